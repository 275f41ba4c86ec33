#include "app/no_effect_warnings.h"

#include <set>

#include "host/HostDoc.h"
#include "host/Registry.h"

namespace {

struct ToolFrom {
  Operator* op = nullptr;
  ToolFrom(Registry& reg, HostDoc& doc, const std::vector<ControlEdit>& edits) : op(reg.Create(&doc)) {
    for (const ControlEdit& e : edits) ApplyEdit(*op, e, nullptr);
  }
  ~ToolFrom() {
    if (op) op->Recycle();
  }
};

std::string Label(const Input& in, int v) {
  if (!in.Buttons.empty()) return in.Buttons[size_t(v)];
  return v ? "on" : "off";
}

int Choices(const Input& in) {
  if (!in.Buttons.empty()) return int(in.Buttons.size());
  return in.ControlType == "CheckboxControl" ? 2 : 0;
}

bool HasChannel(const FileImage& f, const std::string& name) {
  for (const std::string& n : f.names)
    if (n == name || (n.size() > name.size() && n[n.size() - name.size() - 1] == '.' &&
                      n.compare(n.size() - name.size(), name.size(), name) == 0))
      return true;
  return false;
}

}  // namespace

std::vector<std::string> HiddenControlWarnings(const Operator& op, Registry& reg,
                                               const std::vector<ControlEdit>& explicit_edits) {
  std::vector<std::string> warnings;
  std::set<std::string> said;
  HostDoc quiet([](int, const std::string&) {});
  for (const ControlEdit& e : explicit_edits) {
    const Input* hidden = op.FindInput(e.id);
    if (!hidden || hidden->Visible() || !said.insert(e.id).second) continue;
    // Every other choice of every switch and button control, then pairs of
    // them (FStop needs depth on and the camera settings both).
    std::vector<std::pair<const Input*, int>> flips;
    for (const Input* c : op.Inputs())
      if (c != hidden && Choices(*c) && !c->Animated())
        for (int v = 0; v < Choices(*c); ++v)
          if (v != int(c->Constant() + 0.5)) flips.emplace_back(c, v);
    auto shows = [&](const std::vector<std::pair<const Input*, int>>& set) {
      std::vector<ControlEdit> probe = explicit_edits;
      for (auto& [c, v] : set) {
        ControlEdit flip;
        flip.id = c->ID;
        flip.value = v;
        probe.push_back(flip);
      }
      ToolFrom t(reg, quiet, probe);
      return t.op->FindInput(e.id)->Visible();
    };
    auto now = [](const Input* c) { return c->ID + " is " + Label(*c, int(c->Constant() + 0.5)); };
    auto then = [](const Input* c, int v) { return c->ID + "=" + Label(*c, v); };
    std::string why;
    for (size_t i = 0; i < flips.size() && why.empty(); ++i)
      if (shows({flips[i]}))
        why = "the tool hides it while " + now(flips[i].first) + " (it counts with " + then(flips[i].first, flips[i].second) + ")";
    for (size_t i = 0; i < flips.size() && why.empty(); ++i)
      for (size_t j = i + 1; j < flips.size() && why.empty(); ++j)
        if (flips[i].first != flips[j].first && shows({flips[i], flips[j]}))
          why = "the tool hides it while " + now(flips[i].first) + " and " + now(flips[j].first) + " (it counts with " +
                then(flips[i].first, flips[i].second) + " and " + then(flips[j].first, flips[j].second) + ")";
    if (why.empty()) why = "the tool hides it with these settings";
    warnings.push_back("warning: " + e.id + " was set but has no effect: " + why);
  }
  return warnings;
}

std::string BlenderVectorsWarning(const FileImage& file, const ChannelPick& pick, const std::string& preset) {
  if (preset == "blender" || pick.role_to_name.count("VectX")) return "";
  if (!HasChannel(file, "Vector.X") || !HasChannel(file, "Vector.W")) return "";
  return "warning: " + file.path +
         " carries Blender's Vector.X .. Vector.W channels, but no motion is read from them; add --vectors blender";
}
