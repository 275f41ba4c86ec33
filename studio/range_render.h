#pragma once
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <sys/types.h>
#include <thread>

#include "studio/console_log.h"
#include "studio/studio_options.h"
#include "studio/tool_session.h"

// Renders the studio's frame range to files with quorvex-render itself (the
// program beside the studio), so that the files, their names, the channels
// kept and the write safety are exactly the command's. The panel's values go
// to it as a comp file.
class RangeRender {
 public:
  RangeRender(const StudioOptions& o, ToolSession& session, ConsoleLog& console);
  ~RangeRender();  // stops a render in progress
  RangeRender(const RangeRender&) = delete;
  RangeRender& operator=(const RangeRender&) = delete;

  // {"name": "shot_blur.####.exr"}: starts the render; 409 while one runs.
  nlohmann::json Start(const nlohmann::json& body);
  // {"running", "done", "total", "exit", "message", "output"}
  nlohmann::json Status() const;

 private:
  void Watch(int err_fd, pid_t child, std::string temp_dir);
  void Stop();

  const StudioOptions& o_;
  ToolSession& session_;
  ConsoleLog& console_;
  mutable std::mutex mutex_;
  std::thread watcher_;
  pid_t child_ = -1;
  bool running_ = false;
  int done_ = 0, total_ = 0, exit_ = -1;
  std::string message_, output_;
};

// quorvex-render beside the running program.
std::string RenderProgramPath();
