#pragma once
// Depth to blur size: the frame's numbers that turn a depth-map value into
// a distance (millimetres) and a distance into a kernel index. Single
// precision throughout, as the tool has always computed them.
#include <cfloat>
#include <cstdint>

namespace dof {

enum class DepthMapType { Distance, Normalized };
enum class DepthUnits { Millimetre, Metre, Inch, Foot };

struct DepthSettings {
  bool enabled = false;  // "EnableDepth": kernel indices above 0 at all
  DepthMapType map_type = DepthMapType::Normalized;
  DepthUnits units = DepthUnits::Millimetre;
  bool invert = false;  // "InvertDepthMap" (normalised maps only)
  float near_distance = 1.0f, far_distance = 2.0f;
  float focus_distance = 0.0f;  // millimetres
  float blur_scale = 0.0f;      // blur diameter of a point at infinity, pixels
  float kernel_step = 0.01f;    // pixels of diameter per kernel index
  float depth_cap = FLT_MAX / 2.0f;
};

// The distance in millimetres (never negative) of a depth-map value.
float DepthToDistance(const DepthSettings& s, float value);

// A sample's distance: its depth value mapped and capped; 1 with depth off.
float SampleDistance(const DepthSettings& s, float depth_value);

// The bank index for a sample at `distance` in a bank of `bank_size`
// entries: the largest entry whose diameter (index * kernel_step) is not
// above the sample's blur |d - focus| * blur_scale / d, capped at blur_scale.
int32_t KernelIndex(const DepthSettings& s, int32_t bank_size, float distance);

// The number of entries the frame's kernel bank has for an image `width`
// pixels wide: one per kernel step up to the blur scale, never more than a
// quarter of the width; 1 with depth off.
int32_t KernelBankSize(const DepthSettings& s, int32_t width);

}  // namespace dof
