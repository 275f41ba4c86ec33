#pragma once
// Runs quorvex-render as a child process under limits a hostile setting
// imposes: a file-size limit with SIGXFSZ ignored (so that writes fail with
// EFBIG as on a full disk), another user, a time limit. Reports the exit
// status, the output and the child's peak memory (getrusage).
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace e2e {

struct Limits {
  long long file_size = -1;  // RLIMIT_FSIZE in bytes; -1: none
  bool as_nobody = false;    // drop root to the "nobody" user first
  int seconds = 60;          // killed after this long
};

struct Outcome {
  int status = -1;      // exit status; -1 when killed by a signal
  int signal = 0;       // the signal that ended it
  bool timed_out = false;
  long max_rss_kb = 0;  // peak resident memory
  std::string output;   // standard output and error
};

inline Outcome RunLimited(const std::vector<std::string>& args, const Limits& limits = {}) {
  int pipe_fd[2];
  if (pipe(pipe_fd) != 0) return {};
  std::vector<std::string> argv_s{QUORVEX_RENDER_BIN};
  argv_s.insert(argv_s.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_s) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const passwd* nobody = limits.as_nobody ? getpwnam("nobody") : nullptr;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(pipe_fd[1], 1);
    dup2(pipe_fd[1], 2);
    close(pipe_fd[0]);
    close(pipe_fd[1]);
    if (limits.file_size >= 0) {
      signal(SIGXFSZ, SIG_IGN);  // ignored signals stay ignored across exec
      rlimit r{rlim_t(limits.file_size), rlim_t(limits.file_size)};
      setrlimit(RLIMIT_FSIZE, &r);
    }
    if (nobody && (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0)) _exit(126);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(pipe_fd[1]);
  Outcome o;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limits.seconds);
  char buf[4096];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{pipe_fd[0], POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, int(left.count())) == 0) {
      o.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    const ssize_t n = read(pipe_fd[0], buf, sizeof buf);
    if (n <= 0) break;
    o.output.append(buf, size_t(n));
  }
  close(pipe_fd[0]);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  o.max_rss_kb = usage.ru_maxrss;
  if (WIFEXITED(status)) o.status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) o.signal = WTERMSIG(status);
  return o;
}

}  // namespace e2e
