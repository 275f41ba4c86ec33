#pragma once
// One frame's settings as the engine takes them: plain numbers and enums,
// filled once per frame by the tool from its controls.
#include <cstdint>

#include "dof/depth_to_blur.h"
#include "dof/kernel_shapes.h"

enum class EdgeCondition { Duplicate, Black, Mirror };
enum class SettingsType { Simple, Advanced };

// "EdgeCondition" as the tool decodes it: Duplicate around 0, Mirror
// around 2, anything else keeps nothing beyond the border.
inline EdgeCondition EdgeConditionOf(float v) {
  if (v > -0.5f && v < 0.5f) return EdgeCondition::Duplicate;
  if (v > 1.5f && v < 2.5f) return EdgeCondition::Mirror;
  return EdgeCondition::Black;
}

struct FrameSettings {
  // Motion.
  float alpha_patch = 0.0f;
  bool clamped_velocity = false;      // "NormalizedVelocity"
  bool antialiased_velocity = false;  // "AntialiasedVelocity"
  float scale_x = 1.0f, scale_y = -1.0f;  // the vertical scale carries the sign flip
  int32_t divisor = 1;                    // the input's resolution divisor
  float velocity_channel = 0.0f;          // "Velocity X/Y Channel" value
  EdgeCondition edges = EdgeCondition::Duplicate;

  // Depth of field.
  float depth_channel = 0.0f;  // "Depth Channel" value
  SettingsType settings_type = SettingsType::Simple;
  float min_weight = 1.0f;
  bool normalize = false;  // only ever on while depth processing is active
  dof::DepthSettings depth;
  kernel_shapes::Params kernel;
};
