#include "app/control_edits.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <sstream>

#include "app/usage_error.h"

namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> prev(b.size() + 1), cur(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) prev[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    cur[0] = i;
    for (size_t j = 1; j <= b.size(); ++j)
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
    std::swap(prev, cur);
  }
  return prev[b.size()];
}

bool ParseDouble(const std::string& s, double& out) {
  if (s.empty()) return false;
  const char* begin = s.c_str();
  char* end = nullptr;
  out = std::strtod(begin, &end);
  return end == begin + s.size() && !std::isspace(static_cast<unsigned char>(s[0]));
}

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
  return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

// A single value of a numeric control: a number, a button label or a switch word.
double ParseNumber(const Input& in, const std::string& raw) {
  const std::string text = Trim(raw);
  double v;
  if (ParseDouble(text, v)) {
    if (std::isnan(v)) throw UsageError("--set " + in.ID + ": the value must be a number, not nan");
    return v;
  }
  for (size_t i = 0; i < in.Buttons.size(); ++i)
    if (Lower(in.Buttons[i]) == Lower(text)) return double(i);
  if (in.ControlType == "CheckboxControl") {
    const std::string w = Lower(text);
    if (w == "on" || w == "true" || w == "yes") return 1.0;
    if (w == "off" || w == "false" || w == "no") return 0.0;
  }
  std::string expected = "a number";
  if (!in.Buttons.empty()) {
    expected += " or one of";
    for (size_t i = 0; i < in.Buttons.size(); ++i) expected += (i ? ", \"" : " \"") + in.Buttons[i] + "\"";
  } else if (in.ControlType == "CheckboxControl") {
    expected += ", on or off";
  }
  throw UsageError("--set " + in.ID + ": cannot read \"" + raw + "\" as a value; expected " + expected +
                   " (keyframes: FRAME:VALUE,FRAME:VALUE)");
}

}  // namespace

std::vector<std::string> CloseMatches(const Operator& op, const std::string& id) {
  std::vector<std::pair<size_t, std::string>> scored;
  const std::string want = Lower(id);
  for (const Input* in : op.Inputs()) {
    const std::string have = Lower(in->ID);
    size_t d = EditDistance(want, have);
    const bool contains = !want.empty() && (have.find(want) != std::string::npos || want.find(have) != std::string::npos);
    if (d <= std::max<size_t>(2, want.size() / 3) || contains) scored.emplace_back(contains ? 0 : d, in->ID);
  }
  std::stable_sort(scored.begin(), scored.end(), [](auto& a, auto& b) { return a.first < b.first; });
  std::vector<std::string> out;
  for (auto& s : scored)
    if (out.size() < 4) out.push_back(s.second);
  return out;
}

Input* FindControl(const Operator& op, const std::string& id) {
  if (Input* in = op.FindInput(id)) return in;
  std::string msg = "unknown control \"" + id + "\"";
  auto close = CloseMatches(op, id);
  if (!close.empty()) {
    msg += "; did you mean";
    for (size_t i = 0; i < close.size(); ++i) msg += (i ? ", \"" : " \"") + close[i] + "\"";
    msg += "?";
  }
  msg += " (quorvex-render --list-controls lists them all)";
  throw UsageError(msg);
}

ControlEdit ParseSetArgument(const Operator& op, const std::string& arg) {
  const size_t eq = arg.find('=');
  if (eq == std::string::npos || eq == 0)
    throw UsageError("--set \"" + arg + "\": expected ID=VALUE, e.g. --set \"Scale Velocity=2\"");
  ControlEdit e;
  e.id = arg.substr(0, eq);
  const std::string value = arg.substr(eq + 1);
  Input* in = FindControl(op, e.id);
  if (in->Page == "Info")
    throw UsageError("--set " + e.id + ": the Info page's fields are fixed texts and cannot be set");
  if (in->DataType == "Image")
    throw UsageError("--set " + e.id + ": an image input is connected with --input, --motion, --depth or --blur-image");
  if (in->DataType == "Text") {
    e.kind = ControlEdit::TextValue;
    e.text = value;
    return e;
  }
  if (value.find(':') != std::string::npos) {
    e.kind = ControlEdit::Keys;
    std::stringstream ss(value);
    std::string item;
    while (std::getline(ss, item, ',')) {
      const size_t colon = item.find(':');
      double frame;
      if (colon == std::string::npos || !ParseDouble(Trim(item.substr(0, colon)), frame) || !std::isfinite(frame))
        throw UsageError("--set " + e.id + ": cannot read keyframe \"" + item + "\"; expected FRAME:VALUE");
      e.keys[frame] = ParseNumber(*in, item.substr(colon + 1));
    }
    if (e.keys.empty()) throw UsageError("--set " + e.id + ": no keyframes given");
    return e;
  }
  e.value = ParseNumber(*in, value);
  return e;
}

namespace {
double Clamp(const Input& in, double v, const WarningSink& warn) {
  double hi = in.AcceptMax;
  double lo = in.AcceptMin;
  if (!in.Buttons.empty()) {
    lo = 0.0;
    hi = double(in.Buttons.size() - 1);
  } else if (in.ControlType == "CheckboxControl") {
    lo = 0.0;
    hi = 1.0;
  }
  double c = std::min(std::max(v, lo), hi);
  if (c != v && warn)
    warn("warning: " + in.ID + " = " + FormatNumber(v) + " is outside its range " + FormatNumber(lo) + " to " +
         FormatNumber(hi) + "; using " + FormatNumber(c));
  return c;
}
}  // namespace

void ApplyEdit(Operator& op, const ControlEdit& edit, const WarningSink& warn) {
  Input* in = FindControl(op, edit.id);
  switch (edit.kind) {
    case ControlEdit::TextValue:
      in->EditText(edit.text);
      break;
    case ControlEdit::Keys: {
      std::map<double, double> keys;
      for (auto& k : edit.keys) keys[k.first] = Clamp(*in, k.second, warn);
      in->EditKeys(keys);
      break;
    }
    case ControlEdit::Constant:
      in->Edit(Clamp(*in, edit.value, warn), 0.0);
      break;
  }
}

std::string FormatNumber(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string FormatValue(const Input& in) {
  if (in.DataType == "Text") return in.TextValue();
  if (in.DataType == "Image") return in.Connected() ? "connected" : "-";
  if (!in.Animated()) return FormatNumber(in.Constant());
  std::string s;
  for (auto& k : in.Keys()) s += (s.empty() ? "" : ",") + FormatNumber(k.first) + ":" + FormatNumber(k.second);
  return s;
}
