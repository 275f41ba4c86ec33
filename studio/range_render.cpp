#include "studio/range_render.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "app/safe_write.h"
#include "studio/client_error.h"
#include "studio/out_names.h"

extern char** environ;
namespace fs = std::filesystem;
using json = nlohmann::json;

std::string RenderProgramPath() {
  std::error_code ec;
  const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? "quorvex-render" : (exe.parent_path() / "quorvex-render").string();
}

RangeRender::RangeRender(const StudioOptions& o, ToolSession& session, ConsoleLog& console)
    : o_(o), session_(session), console_(console) {}

RangeRender::~RangeRender() { Stop(); }

void RangeRender::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // The command's own Ctrl-C: it cancels the frame and keeps finished ones.
    if (running_ && child_ > 0) kill(child_, SIGINT);
  }
  if (watcher_.joinable()) watcher_.join();
}

json RangeRender::Start(const json& body) {
  if (!body.is_object() || !body.contains("name") || !body["name"].is_string())
    throw ClientError(400, "the request needs \"name\": the output file name, e.g. shot_blur.####.exr");
  const std::string out = PathInsideFolder(o_.out_dir, body["name"].get<std::string>());
  for (const std::string* in : {&o_.input, &o_.motion, &o_.depth})
    if (!in->empty() && SameFile(*in, out)) throw ClientError(400, "refusing to overwrite the input " + *in);
  std::lock_guard<std::mutex> lock(mutex_);
  if (running_) throw ClientError(409, "a render is already running");
  if (watcher_.joinable()) watcher_.join();

  char dir_template[] = "/tmp/quorvex-studio-XXXXXX";
  if (!mkdtemp(dir_template)) throw ClientError(500, std::string("cannot make a temporary folder: ") + strerror(errno));
  const std::string temp_dir = dir_template, comp = temp_dir + "/panel.comp";
  session_.SaveComp(comp);

  std::vector<std::string> args{RenderProgramPath(), "--input", o_.input, "--output", out, "--comp", comp};
  if (!o_.motion.empty()) args.insert(args.end(), {"--motion", o_.motion});
  if (!o_.depth.empty()) args.insert(args.end(), {"--depth", o_.depth});
  if (!o_.frames.empty()) args.insert(args.end(), {"--frames", o_.frames});
  if (o_.threads > 0) args.insert(args.end(), {"--threads", std::to_string(o_.threads)});
  if (!o_.plugin_path.empty()) args.insert(args.end(), {"--plugin-path", o_.plugin_path});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int pipe_fd[2];
  if (pipe2(pipe_fd, O_CLOEXEC) != 0) throw ClientError(500, std::string("cannot make a pipe: ") + strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fd[1], STDERR_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  // The command gets the default signal mask back, so that Ctrl-C (SIGINT) reaches it.
  posix_spawnattr_t attrs;
  posix_spawnattr_init(&attrs);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attrs, &none);
  posix_spawnattr_setflags(&attrs, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &actions, &attrs, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attrs);
  close(pipe_fd[1]);
  if (rc != 0) {
    close(pipe_fd[0]);
    fs::remove_all(temp_dir);
    throw ClientError(500, "cannot start " + args[0] + ": " + strerror(rc));
  }
  child_ = pid;
  running_ = true;
  done_ = 0;
  total_ = int(o_.frame_list.size());
  exit_ = -1;
  message_.clear();
  output_ = out;
  console_.Add(CON_Info, "rendering " + std::to_string(total_) + " frame(s) to " + out);
  watcher_ = std::thread([this, fd = pipe_fd[0], pid, temp_dir] { Watch(fd, pid, temp_dir); });
  json status{{"running", true}, {"done", 0}, {"total", total_}, {"output", out}};
  return status;
}

void RangeRender::Watch(int fd, pid_t child, std::string temp_dir) {
  FILE* err = fdopen(fd, "r");
  char buf[4096];
  while (err && std::fgets(buf, sizeof buf, err)) {
    std::string line(buf);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    int frame = 0, done = 0, total = 0;
    std::lock_guard<std::mutex> lock(mutex_);
    // "frame 12 done (3/10): out.0012.exr" is the command's progress line.
    if (std::sscanf(line.c_str(), "frame %d done (%d/%d)", &frame, &done, &total) == 3) {
      done_ = done;
      total_ = total;
    } else if (line.rfind("quorvex-render:", 0) == 0) {
      message_ = line;
    }
    console_.Add(line.find("error") != std::string::npos ? CON_Error : CON_Info, line);
  }
  if (err) std::fclose(err);
  int status = 0;
  waitpid(child, &status, 0);
  std::error_code ec;
  fs::remove_all(temp_dir, ec);
  std::lock_guard<std::mutex> lock(mutex_);
  exit_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  if (exit_ == 0) done_ = total_;
  running_ = false;
  child_ = -1;
  console_.Add(exit_ == 0 ? CON_Info : CON_Error,
               exit_ == 0 ? "render finished: " + output_ : "render stopped (exit " + std::to_string(exit_) + ")");
}

json RangeRender::Status() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return json{{"running", running_}, {"done", done_}, {"total", total_}, {"exit", exit_},
              {"message", message_},  {"output", output_}};
}
