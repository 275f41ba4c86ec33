#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/Operator.h"

// One edit of a control by identifier: a constant, keyframes or a text.
struct ControlEdit {
  std::string id;
  enum Kind { Constant, Keys, TextValue } kind = Constant;
  double value = 0.0;
  std::map<double, double> keys;
  std::string text;
};

using WarningSink = std::function<void(const std::string&)>;

// Parses "ID=VALUE" against the tool's controls. VALUE is a number, a button
// label ("Mirror"), on/off/true/false for a checkbox, keyframes
// "FRAME:VALUE,FRAME:VALUE", or any text for a text field. Throws UsageError
// naming the identifier (and close matches) when it is unknown or malformed.
ControlEdit ParseSetArgument(const Operator& op, const std::string& arg);

// Looks up a control; throws UsageError with the close matches when absent.
Input* FindControl(const Operator& op, const std::string& id);

// Applies an edit as a user's edit in a panel: values outside the accepted
// range are clamped (with a warning) and the tool is notified of the change.
void ApplyEdit(Operator& op, const ControlEdit& edit, const WarningSink& warn);

// Identifiers that look like `id` (same letters in another case, a few typos).
std::vector<std::string> CloseMatches(const Operator& op, const std::string& id);

// A control's current value as text: a number in the shortest exact form,
// keyframes "FRAME:VALUE, ...", or the text.
std::string FormatValue(const Input& in);
std::string FormatNumber(double v);
