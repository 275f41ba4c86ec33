#pragma once
// Shorthands for the creation tags of the tool's controls.
#include "host/TagList.h"

namespace controls {

// A single-precision constant widened to double, as the controls pass them.
constexpr double Single(double v) { return double(float(v)); }

inline Tag NumberType() { return {INP_DataType, "Number"}; }
inline Tag ImageType() { return {INP_DataType, "Image"}; }
inline Tag TextType() { return {INP_DataType, "Text"}; }
inline Tag Control(const char* type) { return {INP_ControlType, type}; }
inline Tag Default(double v) { return {INP_Default, v}; }
inline Tag AcceptMin(double v) { return {INP_AcceptMin, v}; }
inline Tag AcceptMax(double v) { return {INP_AcceptMax, v}; }
inline Tag SliderMin(double v) { return {INP_SliderMin, v}; }
inline Tag SliderMax(double v) { return {INP_SliderMax, v}; }
inline Tag Button(const char* label) { return {MBC_AddButton, label}; }
inline Tag ButtonStyle() { return {MBC_ButtonStyle, 1}; }
inline Tag Notify() { return {INP_Notify, 1}; }
inline Tag Hidden() { return {IC_Visible, 0}; }
inline Tag Link(int n) { return {INP_LinkNumber, n}; }
inline Tag OptionalImage() { return {INP_Required, 0}; }

}  // namespace controls
