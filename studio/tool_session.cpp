#include "studio/tool_session.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>

#include "app/comp_file.h"
#include "app/control_edits.h"
#include "app/usage_error.h"
#include "host/Tags.h"
#include "studio/client_error.h"

using json = nlohmann::json;

namespace {

const char* const kImageInputs[] = {"Input", "Motion Image", "DepthMap", "BlurImage"};

json Finite(double v) { return std::isfinite(v) ? json(v) : json(nullptr); }

double NumberField(const json& body, const char* field) {
  if (!body.is_object() || !body.contains(field))
    throw ClientError(400, std::string("the request needs \"") + field + "\"");
  const json& v = body[field];
  if (v.is_boolean()) return v.get<bool>() ? 1.0 : 0.0;
  if (!v.is_number()) throw ClientError(400, std::string("\"") + field + "\" must be a number, not " + v.dump());
  const double d = v.get<double>();
  if (!std::isfinite(d)) throw ClientError(400, std::string("\"") + field + "\" must be a finite number");
  return d;
}

int IntField(const json& body, const char* field) {
  const double d = NumberField(body, field);
  if (d != std::floor(d) || std::fabs(d) > 1e9)
    throw ClientError(400, std::string("\"") + field + "\" must be a whole number");
  return int(d);
}

}  // namespace

ToolSession::ToolSession(const StudioOptions& o, Operator& tool, const ToolServices* services, ConsoleLog& console)
    : o_(o), tool_(tool), services_(services), console_(console) {
  frame_ = o.frame_list.front();
  LoadFrame(frame_);
  std::lock_guard<std::mutex> lock(snapshot_mutex_);
  panel_ = BuildPanel();
}

void ToolSession::LoadFrame(int frame) {
  auto sources = LoadFrameSources(o_, frame);
  Source src{frame, sources->input->full->Width, sources->input->full->Height,
             std::make_shared<const std::vector<float>>(InterleavedRGBA(*sources->input->full))};
  sources_ = std::move(sources);
  std::lock_guard<std::mutex> lock(snapshot_mutex_);
  source_ = std::move(src);
}

template <class Change>
json ToolSession::Changing(Change&& change) {
  tool_.Abort.store(1);
  std::unique_lock<std::mutex> lock(mutex_);
  tool_.Abort.store(0);
  // The render in flight is gone either way: a failed change still asks for a new one.
  std::exception_ptr refused;
  try {
    change();
  } catch (...) {
    refused = std::current_exception();
  }
  generation_.fetch_add(1);
  json panel = BuildPanel();
  {
    std::lock_guard<std::mutex> snap(snapshot_mutex_);
    panel_ = panel;
  }
  lock.unlock();
  if (on_change_) on_change_();
  if (refused) std::rethrow_exception(refused);
  return panel;
}

json ToolSession::Panel() const {
  std::lock_guard<std::mutex> lock(snapshot_mutex_);
  return panel_;
}

ToolSession::Source ToolSession::CurrentSource() const {
  std::lock_guard<std::mutex> lock(snapshot_mutex_);
  return source_;
}

json ToolSession::BuildPanel() const {
  const double t = double(frame_);
  json controls = json::array();
  for (const Input* in : tool_.Inputs()) {
    json c{{"id", in->ID}, {"name", in->Name()}, {"page", in->Page}, {"type", in->DataType},
           {"control", in->ControlType}, {"visible", in->Visible()}};
    if (in->DataType == "Image") {
      const SourceImage* s = nullptr;
      if (in->ID == "Input") s = sources_->input.get();
      if (in->ID == "Motion Image") s = sources_->motion.get();
      if (in->ID == "DepthMap") s = sources_->depth.get();
      c["file"] = s ? s->path : "";
    } else if (in->DataType == "Text") {
      c["text"] = in->TextValue();
    } else {
      c["value"] = in->ValueAt(t);
      c["min"] = Finite(in->AcceptMin);
      c["max"] = Finite(in->AcceptMax);
      c["slider_min"] = Finite(in->SliderMin);
      c["slider_max"] = Finite(in->SliderMax);
      c["default"] = in->Default;
      c["buttons"] = in->Buttons;
      c["lock"] = in->CreationTags.Has(INP_KeepTogether);
      c["animated"] = in->Animated();
      c["key_here"] = in->Keys().count(t) > 0;
      json keys = json::array();
      for (auto& k : in->Keys()) keys.push_back({k.first, k.second});
      c["keys"] = keys;
    }
    controls.push_back(std::move(c));
  }
  const FrameSources& f = *sources_;
  return json{{"frame", frame_},
              {"frames", o_.frame_list},
              {"sequence", o_.sequence},
              {"width", f.input->full->Width},
              {"height", f.input->full->Height},
              {"proxies", f.proxies},
              {"view", view_},
              {"focus_view", services_ && services_->BlurDiameters},
              {"focus_tool", services_ && services_->DepthValueAt},
              {"out_dir", o_.out_dir},
              {"generation", generation_.load()},
              {"pages", tool_.Pages()},
              {"controls", controls}};
}

Input& ToolSession::Control(const json& body) const {
  if (!body.is_object() || !body.contains("id") || !body["id"].is_string())
    throw ClientError(400, "the request needs \"id\": a control's identifier");
  const std::string id = body["id"].get<std::string>();
  try {
    return *FindControl(tool_, id);
  } catch (const UsageError& e) {
    throw ClientError(404, e.what());
  }
}

// A user's edit at the current frame: a keyed control gets a key there.
void ToolSession::SetNumber(Input& in, double value) {
  ControlEdit e;
  e.id = in.ID;
  if (in.Animated()) {
    e.kind = ControlEdit::Keys;
    e.keys = in.Keys();
    e.keys[double(frame_)] = value;
  } else {
    e.value = value;
  }
  ApplyEdit(tool_, e, [this](const std::string& w) { console_.Add(CON_Info, w); });
}

json ToolSession::Edit(const json& body) {
  Input& in = Control(body);
  if (in.DataType == "Image") throw ClientError(400, "\"" + in.ID + "\" is an image input; it is not edited");
  if (in.DataType == "Text") {
    if (!body.contains("value") || !body["value"].is_string())
      throw ClientError(400, "\"" + in.ID + "\" takes a text value");
    const std::string text = body["value"].get<std::string>();
    return Changing([&] {
      ControlEdit e;
      e.id = in.ID;
      e.kind = ControlEdit::TextValue;
      e.text = text;
      ApplyEdit(tool_, e, nullptr);
    });
  }
  const double v = NumberField(body, "value");
  return Changing([&] { SetNumber(in, v); });
}

json ToolSession::ToggleKey(const json& body) {
  Input& in = Control(body);
  if (in.DataType != "Number") throw ClientError(400, "\"" + in.ID + "\" cannot be keyed");
  return Changing([&] {
    const double t = double(frame_);
    ControlEdit e;
    e.id = in.ID;
    e.kind = ControlEdit::Keys;
    e.keys = in.Keys();
    if (!in.Animated()) {
      e.keys[t] = in.Constant();
    } else if (e.keys.count(t)) {
      const double here = in.ValueAt(t);
      e.keys.erase(t);
      if (e.keys.empty()) {  // the last key gone: the value stays as a constant
        e.kind = ControlEdit::Constant;
        e.value = here;
      }
    } else {
      e.keys[t] = in.ValueAt(t);
    }
    ApplyEdit(tool_, e, [this](const std::string& w) { console_.Add(CON_Info, w); });
  });
}

json ToolSession::SetFrame(const json& body) {
  const int frame = IntField(body, "frame");
  if (std::find(o_.frame_list.begin(), o_.frame_list.end(), frame) == o_.frame_list.end())
    throw ClientError(400, "frame " + std::to_string(frame) + " is not in the studio's frame range");
  return Changing([&] {
    if (frame == frame_) return;
    if (o_.sequence) {
      try {
        LoadFrame(frame);
      } catch (const std::exception& e) {
        throw ClientError(422, std::string("frame ") + std::to_string(frame) + ": " + e.what());
      }
    }
    frame_ = frame;
  });
}

json ToolSession::SetView(const json& body) {
  if (!body.is_object() || !body.contains("view") || !body["view"].is_string())
    throw ClientError(400, "the request needs \"view\": \"result\" or \"focus\"");
  const std::string view = body["view"].get<std::string>();
  if (view != "result" && view != "focus") throw ClientError(400, "unknown view \"" + view + "\"");
  if (view == "focus" && !(services_ && services_->BlurDiameters))
    throw ClientError(409, "the loaded module offers no blur sizes for a focus view");
  return Changing([&] { view_ = view; });
}

json ToolSession::FocusAt(const json& body) {
  const int x = IntField(body, "x"), y = IntField(body, "y");
  if (!(services_ && services_->DepthValueAt))
    throw ClientError(409, "the loaded module offers no depth lookup for the focus tool");
  double focus = 0.0;
  json panel = Changing([&] {
    Request req(&tool_, double(frame_));
    float value = 0.0f;
    char error[256] = "";
    if (!services_->DepthValueAt(&tool_, &req, &sources_->DepthImage(), x, y, &value, error, sizeof error))
      throw ClientError(400, std::string("focus tool: ") + error);
    if (!std::isfinite(value)) throw ClientError(400, "focus tool: the depth there is not a number");
    focus = value;
    SetNumber(*tool_.FindInput("FocusPosition"), focus);
    console_.Add(CON_Info, "focus at (" + std::to_string(x) + "," + std::to_string(y) + ") = " + FormatNumber(focus));
  });
  panel["focus"] = focus;
  return panel;
}

void ToolSession::SaveComp(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  comp_file::Save(path, tool_);
}

bool ToolSession::WantsProxy() const {
  std::lock_guard<std::mutex> lock(snapshot_mutex_);
  return panel_.value("view", "result") == "result" && panel_.value("proxies", false);
}

std::shared_ptr<Picture> ToolSession::Render(uint64_t generation, int stage) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (generation != generation_.load()) return nullptr;
  auto pic = std::make_shared<Picture>();
  pic->generation = generation;
  pic->stage = stage;
  pic->view = view_;
  FrameSources& f = *sources_;
  const bool proxy = stage == kProxyStage && f.proxies && view_ == "result";
  pic->divisor = proxy ? ProxyDivisor(last_full_ms_) : 1;
  auto pick = [&](const std::unique_ptr<SourceImage>& s) -> Image* {
    return s ? s->Reduced(pic->divisor) : nullptr;
  };
  Image* input = pick(f.input);
  tool_.FindInput("Input")->Connect(input);
  tool_.FindInput("Motion Image")->Connect(pick(f.motion));
  tool_.FindInput("DepthMap")->Connect(pick(f.depth));
  bool cancelled = false;
  {
    Request req(&tool_, double(frame_));
    if (view_ == "focus") {
      const size_t n = size_t(input->Width) * size_t(input->Height);
      std::vector<float> diameters(n);
      char error[512] = "";
      if (services_->BlurDiameters(&tool_, &req, diameters.data(), error, sizeof error)) {
        const std::vector<float> src = InterleavedRGBA(*input);
        pic->rgba.resize(src.size());
        pic->ramp = FocusViewPixels(src.data(), diameters.data(), n, pic->rgba.data());
        pic->width = input->Width;
        pic->height = input->Height;
        char line[160];
        std::snprintf(line, sizeof line, "focus view: blue %.2f px to red %.2f px", pic->ramp.smallest,
                      pic->ramp.largest);
        console_.Add(CON_Info, line);
      } else {
        console_.Add(CON_Error, std::string("focus view: ") + error);
        pic->failed = true;
      }
    } else {
      const auto start = std::chrono::steady_clock::now();
      tool_.Process(&req);
      pic->render_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
      if (!proxy && !tool_.Abort.load()) last_full_ms_ = pic->render_ms;
      if (auto* result = static_cast<Image*>(req.TakeResult(tool_.FindOutput("Output")))) {
        pic->rgba = InterleavedRGBA(*result);
        pic->width = result->Width;
        pic->height = result->Height;
        result->Recycle();
      } else {
        cancelled = tool_.Abort.load() != 0;
        pic->failed = true;
      }
    }
  }
  for (const char* id : kImageInputs) tool_.FindInput(id)->Connect(nullptr);
  return cancelled ? nullptr : pic;
}
