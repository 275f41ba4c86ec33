#pragma once
// Warnings for settings that would otherwise do nothing without a word: one
// line each on standard error, once per command.
#include <string>
#include <vector>

#include "app/control_edits.h"
#include "app/image_io.h"
#include "host/Operator.h"

class Registry;

// For every control in `explicit_edits` that the tool hides with the final
// settings: it has no effect, and why. The reason comes from the tool's own
// visibility rules, asked of fresh tools made by `reg`: which single switch
// or button control, set otherwise, would show it.
std::vector<std::string> HiddenControlWarnings(const Operator& op, Registry& reg,
                                               const std::vector<ControlEdit>& explicit_edits);

// The file carries Blender's Vector.X .. Vector.W channels (any layer) while
// no motion is read: what to add. Empty when nothing is wrong.
std::string BlenderVectorsWarning(const FileImage& file, const ChannelPick& pick, const std::string& preset);
