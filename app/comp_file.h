#pragma once
#include <string>
#include <vector>

#include "app/control_edits.h"
#include "host/Operator.h"

// A composition's saved settings: the tool's class and its control values
// (constants, keyframes or texts) by identifier, as JSON:
//   {"format": "quorvex-comp", "version": 1, "tool": "tessalyworks.Quorvex",
//    "controls": {"EnableDepth": 1, "FocusPosition": {"keys": [[1, 0.2], [24, 0.8]]}}}
namespace comp_file {

// Reads a comp file into edits, in the file's order. Throws UsageError with
// the file name and what is wrong (unreadable, malformed, unknown control).
std::vector<ControlEdit> Load(const std::string& path, const Operator& op);
std::vector<ControlEdit> Parse(const std::string& text, const std::string& origin, const Operator& op);

// Every numeric and text control of the tool, in creation order.
std::string Serialize(const Operator& op);
// The same with every numeric control's value at `frame` as a constant, on
// one line: the values a frame was rendered with.
std::string SerializeAt(const Operator& op, double frame);
// Writes through a temporary file and a rename, so a failure leaves any
// earlier file in place.
void Save(const std::string& path, const Operator& op);

}  // namespace comp_file
