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
    // Every other choice of every switch and button control, searched
    // breadth first through the choices that change what the panel shows,
    // up to three deep (FarDistance needs depth on, the camera settings and
    // a normalized depth map).
    using Flip = std::pair<const Input*, int>;
    std::vector<Flip> flips;
    for (const Input* c : op.Inputs())
      if (c != hidden && Choices(*c) && !c->Animated())
        for (int v = 0; v < Choices(*c); ++v)
          if (v != int(c->Constant() + 0.5)) flips.emplace_back(c, v);
    // What the panel shows after the explicit edits and `set`.
    auto shown = [&](const std::vector<Flip>& set) {
      std::vector<ControlEdit> probe = explicit_edits;
      for (auto& [c, v] : set) {
        ControlEdit flip;
        flip.id = c->ID;
        flip.value = v;
        probe.push_back(flip);
      }
      ToolFrom t(reg, quiet, probe);
      std::vector<bool> visible;
      for (const Input* in : t.op->Inputs()) visible.push_back(in->Visible());
      return visible;
    };
    size_t target = 0;
    while (op.Inputs()[target] != hidden) ++target;
    std::vector<Flip> found;
    std::vector<std::pair<std::vector<Flip>, std::vector<bool>>> level{{{}, shown({})}};
    for (int depth = 1; depth <= 3 && found.empty(); ++depth) {
      std::vector<std::pair<std::vector<Flip>, std::vector<bool>>> next;
      for (const auto& [set, before] : level) {
        for (const Flip& f : flips) {
          bool same_control = false;
          for (const Flip& g : set) same_control = same_control || g.first == f.first;
          if (same_control) continue;
          std::vector<Flip> more = set;
          more.push_back(f);
          std::vector<bool> after = shown(more);
          if (after[target]) {
            found = more;
            break;
          }
          if (after != before && next.size() < 64) next.emplace_back(more, after);
        }
        if (!found.empty()) break;
      }
      level = std::move(next);
    }
    auto list = [](const std::vector<std::string>& items) {
      std::string s;
      for (size_t i = 0; i < items.size(); ++i) s += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
      return s;
    };
    std::vector<std::string> now, then;
    for (const auto& [c, v] : found) {
      now.push_back(c->ID + " is " + Label(*c, int(c->Constant() + 0.5)));
      then.push_back(c->ID + "=" + Label(*c, v));
    }
    std::string why;
    if (!found.empty()) why = "the tool hides it while " + list(now) + " (it counts with " + list(then) + ")";
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
