// quorvex-studio: the tool's panel and a live viewer in the browser, served
// from this machine. Loads the plug-in module as quorvex-render does.
#include <CLI/CLI.hpp>
#include <httplib.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <filesystem>
#include <thread>

#include "app/comp_file.h"
#include "app/control_edits.h"
#include "app/frame_range.h"
#include "app/plugin_loader.h"
#include "app/usage_error.h"
#include "host/Module.h"
#include "host/Registry.h"
#include "studio/http_routes.h"

namespace fs = std::filesystem;

namespace {

const char kToolClass[] = "tessalyworks.Quorvex";
constexpr int kExitUsage = 2;

struct ToolHandle {
  Operator* op = nullptr;
  ~ToolHandle() {
    if (op) op->Recycle();
  }
};

void CheckOptions(StudioOptions& o) {
  o.sequence = HasFramePattern(o.input);
  if (!o.frames.empty())
    o.frame_list = ParseFrameRange(o.frames);
  else if (o.sequence)
    throw UsageError(o.input + " is a sequence: give its frames with --frames, e.g. --frames 1-100");
  else
    o.frame_list = {1};
  for (const std::string* p : {&o.motion, &o.depth})
    if (!p->empty() && HasFramePattern(*p) != o.sequence)
      throw UsageError(*p + ": the passes must be sequences exactly when the input is one");
  std::error_code ec;
  if (!fs::is_directory(o.out_dir, ec) && !fs::create_directories(o.out_dir, ec))
    throw UsageError("cannot make the output folder " + o.out_dir + ": " + ec.message());
}

const ToolServices* FindServices(const std::vector<std::unique_ptr<PluginModule>>& modules) {
  for (const auto& m : modules)
    for (Registry* r : m->Classes())
      if (r->ID.str() == kToolClass) return m->Services();
  return nullptr;
}

int Run(StudioOptions& o) {
  CheckOptions(o);
  SetHostThreads(o.threads);
  auto modules = LoadPlugins(o.plugin_path);
  Registry* reg = HostClassRegistry().Find(kToolClass);
  if (!reg) throw UsageError(std::string("no plug-in registers the tool class ") + kToolClass);
  const ToolServices* services = FindServices(modules);
  if (!services)
    std::fprintf(stderr, "quorvex-studio: warning: the module offers no engine services; no focus tool or focus view\n");

  ConsoleLog console;
  HostDoc doc([&console](int kind, const std::string& text) {
    console.Add(kind, text);
    if (kind == CON_Error) std::fputs(text.c_str(), stderr);
  });
  ToolHandle tool;
  tool.op = reg->Create(&doc);
  Operator& op = *tool.op;
  auto warn = [](const std::string& w) { std::fprintf(stderr, "quorvex-studio: %s\n", w.c_str()); };
  if (!o.comp.empty())
    for (const ControlEdit& e : comp_file::Load(o.comp, op)) ApplyEdit(op, e, warn);

  ToolSession session(o, op, services, console);
  LiveRender live(session);
  session.OnChange([&live] { live.Kick(); });
  RangeRender range(o, session, console);

  RequestGuard guard{NewToken(), AllowedHosts(o.listen), 0};
  httplib::Server server;
  // Long polls for pictures hold a thread each; leave room for the rest.
  server.new_task_queue = [] { return new httplib::ThreadPool(16); };
  const int port = o.port == 0 ? server.bind_to_any_port(o.listen) : (server.bind_to_port(o.listen, o.port) ? o.port : -1);
  if (port <= 0)
    throw UsageError("cannot listen on " + o.listen + (o.port ? ":" + std::to_string(o.port) : std::string()) +
                     " (address in use or not this machine's)");
  guard.port = port;
  InstallRoutes(server, {o, guard, session, live, range, console});

  if (o.listen != "127.0.0.1")
    std::fprintf(stderr,
                 "quorvex-studio: warning: listening on %s, not only on this machine; anyone who can reach it and "
                 "knows the token can read the frame and write into %s\n",
                 o.listen.c_str(), o.out_dir.c_str());
  std::printf("quorvex-studio: open http://127.0.0.1:%d/?token=%s\n", port, guard.token.c_str());
  std::fflush(stdout);

  // Ctrl-C or a TERM stops the server; the workers finish first.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  std::thread stopper([&] {
    int sig = 0;
    sigwait(&stop_signals, &sig);
    live.Stop();  // pending picture requests return at once
    op.Abort.store(1);
    server.stop();
  });
  const bool ok = server.listen_after_bind();
  if (!ok) kill(getpid(), SIGTERM);  // wakes the stopper
  stopper.join();
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
#if defined(__GLIBC__)
  // As in quorvex-render: a frame's planes and sample list are tens of
  // megabytes; keep freed blocks for the next render instead of taking every
  // page fault again.
  mallopt(M_MMAP_THRESHOLD, 1 << 30);
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
  // Stop signals are taken by one thread (sigwait); every thread started later inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  StudioOptions o;
  CLI::App app{"The Quorvex panel and a live viewer in the browser, served on this machine.", "quorvex-studio"};
  app.add_option("input", o.input, "input image (RGBA, optionally Z and VectX/VectY); #### for a sequence")->required();
  app.add_option("--motion", o.motion, "motion-vector image (VectX/VectY in pixels)");
  app.add_option("--depth", o.depth, "depth image (Z)");
  app.add_option("--comp", o.comp, "comp file with saved control values to start from");
  app.add_option("--frames", o.frames, "frame range A-B (needed for #### sequences)");
  app.add_option("--out-dir", o.out_dir, "folder for saved comps and rendered files (default: the current folder)");
  app.add_option("--port", o.port, "port to listen on (default: any free port)")->check(CLI::Range(0, 65535));
  app.add_option("--listen", o.listen, "address to listen on; anything but 127.0.0.1 opens the studio to the network");
  app.add_option("--threads", o.threads, "worker threads (0: one per core)")->check(CLI::Range(0, 1024));
  app.add_option("--plugin-path", o.plugin_path, "plug-in module or folder (default: the install location)");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::fprintf(stderr, "quorvex-studio: %s (see --help)\n", e.what());
    return kExitUsage;
  }
  try {
    return Run(o);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "quorvex-studio: %s\n", e.what());
    return kExitUsage;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvex-studio: %s\n", e.what());
    return 1;
  }
}
