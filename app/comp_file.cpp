#include "app/comp_file.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "app/input_rules.h"
#include "app/safe_write.h"
#include "app/usage_error.h"
#include "host/Registry.h"

namespace comp_file {
namespace {

using json = nlohmann::ordered_json;

std::vector<ControlEdit> Read(const json& doc, const std::string& origin, const Operator& op);

// Real comp files are 4 levels deep; the parser recurses once per level, so
// a hostile file nested tens of thousands deep would overflow the stack.
constexpr int kMaxNesting = 64;

int NestingDepth(const std::string& text) {
  int depth = 0, deepest = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
      if (deepest > kMaxNesting) return deepest;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

bool OnInfoPage(const Input& in) { return in.Page == "Info"; }

double Number(const json& v, const std::string& origin, const std::string& id) {
  if (!v.is_number()) throw UsageError(origin + ": control \"" + id + "\" needs a number, not " + v.dump());
  return v.get<double>();
}

}  // namespace

std::vector<ControlEdit> Parse(const std::string& text, const std::string& origin, const Operator& op) {
  if (NestingDepth(text) > kMaxNesting)
    throw UsageError(origin + ": not a valid comp file (nested deeper than " + std::to_string(kMaxNesting) +
                     " levels; a comp file is 4 deep)");
  json doc;
  try {
    doc = json::parse(text);
  } catch (const json::exception& e) {  // syntax, or a number beyond double's range
    throw UsageError(origin + ": not a valid comp file (" + std::string(e.what()) + ")");
  }
  try {
    return Read(doc, origin, op);
  } catch (const json::exception& e) {
    // A value of an unexpected type anywhere in the file.
    throw UsageError(origin + ": not a valid comp file (" + std::string(e.what()) + ")");
  }
}

namespace {

std::vector<ControlEdit> Read(const json& doc, const std::string& origin, const Operator& op) {
  if (!doc.is_object() || !doc.contains("format") || doc["format"] != "quorvex-comp")
    throw UsageError(origin + ": not a comp file (expected an object with \"format\": \"quorvex-comp\")");
  if (doc.contains("version") && (!doc["version"].is_number_integer() || doc["version"].get<int64_t>() > 1))
    throw UsageError(origin + ": comp file version " + doc["version"].dump() + " is not one this program reads");
  const std::string tool = op.Reg ? op.Reg->ID.str() : "";
  if (doc.contains("tool") && doc["tool"] != tool)
    throw UsageError(origin + ": the comp is for tool " + doc["tool"].dump() + ", not \"" + tool + "\"");
  if (!doc.contains("controls") || !doc["controls"].is_object())
    throw UsageError(origin + ": the comp file has no \"controls\" object");

  std::vector<ControlEdit> edits;
  for (auto& [id, v] : doc.at("controls").items()) {
    Input* in;
    try {
      in = FindControl(op, id);
    } catch (const UsageError& e) {
      throw UsageError(origin + ": " + e.what());
    }
    if (OnInfoPage(*in)) continue;  // fixed texts; older comp files carry them
    ControlEdit e;
    e.id = id;
    if (in->DataType == "Image") throw UsageError(origin + ": \"" + id + "\" is an image input, not a control value");
    if (in->DataType == "Text") {
      if (!v.is_string()) throw UsageError(origin + ": control \"" + id + "\" needs a text, not " + v.dump());
      e.kind = ControlEdit::TextValue;
      e.text = v.get<std::string>();
    } else if (v.is_object()) {
      if (!v.contains("keys") || !v["keys"].is_array() || v["keys"].empty())
        throw UsageError(origin + ": control \"" + id + "\": keyframes are {\"keys\": [[frame, value], ...]}");
      e.kind = ControlEdit::Keys;
      for (auto& k : v["keys"]) {
        if (!k.is_array() || k.size() != 2)
          throw UsageError(origin + ": control \"" + id + "\": a keyframe is [frame, value], not " + k.dump());
        e.keys[Number(k[0], origin, id)] = Number(k[1], origin, id);
      }
    } else {
      e.value = Number(v, origin, id);
    }
    edits.push_back(std::move(e));
  }
  return edits;
}

}  // namespace

std::vector<ControlEdit> Load(const std::string& path, const Operator& op) {
  input_rules::CheckReadable(path, "comp file");
  std::ifstream f(path, std::ios::binary);
  if (!f) throw UsageError("cannot read comp file " + path);
  std::stringstream ss;
  ss << f.rdbuf();
  return Parse(ss.str(), path, op);
}

namespace {

json Document(const Operator& op, const double* frame) {
  json doc;
  doc["format"] = "quorvex-comp";
  doc["version"] = 1;
  doc["tool"] = op.Reg ? op.Reg->ID.str() : "";
  json controls = json::object();
  for (const Input* in : op.Inputs()) {
    if (in->DataType == "Image" || OnInfoPage(*in)) continue;
    if (in->DataType == "Text") {
      controls[in->ID] = in->TextValue();
    } else if (frame) {
      controls[in->ID] = in->ValueAt(*frame);
    } else if (in->Animated()) {
      json keys = json::array();
      for (auto& k : in->Keys()) keys.push_back({k.first, k.second});
      controls[in->ID] = {{"keys", keys}};
    } else {
      controls[in->ID] = in->Constant();
    }
  }
  doc["controls"] = controls;
  return doc;
}

}  // namespace

std::string Serialize(const Operator& op) { return Document(op, nullptr).dump(2) + "\n"; }

std::string SerializeAt(const Operator& op, double frame) { return Document(op, &frame).dump(); }

void Save(const std::string& path, const Operator& op) {
  WriteBytesSafely(path, Serialize(op));
}

}  // namespace comp_file
