#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/focus_view.h"
#include "host/Operator.h"
#include "host/ToolServices.h"
#include "studio/console_log.h"
#include "studio/frame_sources.h"
#include "studio/studio_options.h"

// One picture for the viewer: the result (or the focus view) of one state of
// the panel, at proxy or full size.
struct Picture {
  uint64_t generation = 0;  // the panel state it shows
  int stage = 0;            // kProxyStage or kFullStage
  int divisor = 1;          // full size / this size
  int width = 0, height = 0;
  std::string view;      // "result" or "focus"
  bool failed = false;   // the tool reported an error (its line is in the console)
  FocusRamp ramp;        // the focus view's ramp ends
  double render_ms = 0;  // the tool's Process (or the blur sizes) alone
  std::vector<float> rgba;
};
constexpr int kProxyStage = 1;
constexpr int kFullStage = 2;

// The tool as the studio holds it: its controls, the current frame's files
// and the view. The page's requests and the live renderer take turns on the
// tool under one lock; a change raises the tool's abort flag first, so that a
// render in flight stops at once and the change follows without waiting for it.
class ToolSession {
 public:
  ToolSession(const StudioOptions& o, Operator& tool, const ToolServices* services, ConsoleLog& console);

  // Called after every change of what the picture shows.
  void OnChange(std::function<void()> listener) { on_change_ = std::move(listener); }

  // Page side: each returns the panel after the change. Bad requests throw
  // ClientError and leave the tool as it was.
  nlohmann::json Panel() const;
  nlohmann::json Edit(const nlohmann::json& body);       // {"id", "value"}
  nlohmann::json ToggleKey(const nlohmann::json& body);  // {"id"}: key at the current frame
  nlohmann::json SetFrame(const nlohmann::json& body);   // {"frame"}
  nlohmann::json SetView(const nlohmann::json& body);    // {"view": "result" | "focus"}
  nlohmann::json FocusAt(const nlohmann::json& body);    // {"x", "y"}: full-size pixel
  // Writes the comp file (the same text quorvex-render --save-comp writes).
  void SaveComp(const std::string& path);

  // The current frame's input colour, four floats per pixel.
  struct Source {
    int frame = 0, width = 0, height = 0;
    std::shared_ptr<const std::vector<float>> rgba;
  };
  Source CurrentSource() const;

  // Render side.
  uint64_t Generation() const { return generation_.load(); }
  bool WantsProxy() const;
  // The picture of panel state `generation`; null when that state is gone
  // (a change came in) or the render was cancelled.
  std::shared_ptr<Picture> Render(uint64_t generation, int stage);

 private:
  template <class Change>
  nlohmann::json Changing(Change&& change);
  nlohmann::json BuildPanel() const;
  void SetNumber(Input& in, double value);
  void LoadFrame(int frame);
  Input& Control(const nlohmann::json& body) const;

  const StudioOptions& o_;
  Operator& tool_;
  const ToolServices* services_;
  ConsoleLog& console_;
  std::function<void()> on_change_;

  std::mutex mutex_;  // the tool, the sources, the frame and the view
  std::unique_ptr<FrameSources> sources_;
  int frame_ = 1;
  std::string view_ = "result";
  std::atomic<uint64_t> generation_{1};
  double last_full_ms_ = 0.0;  // the last full render's time, for the proxy's size

  mutable std::mutex snapshot_mutex_;  // what the page reads without waiting for a render
  nlohmann::json panel_;
  Source source_;
};
