#include "app/temporary_files.h"

#include <limits.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

namespace temporary_files {
namespace {

const char kMarker[] = ".quorvex-tmp~";

// The start time of a process (field 22 of /proc/PID/stat); -1 when the
// process is gone.
long long StartTimeOf(long long pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!f || !std::getline(f, line)) return -1;
  const size_t close = line.rfind(')');  // the command name may hold spaces
  if (close == std::string::npos) return -1;
  std::istringstream rest(line.substr(close + 2));
  std::string field;
  // Fields 3 .. 21 come before the start time.
  for (int i = 3; i <= 21 && rest >> field; ++i) {
  }
  long long start = -1;
  rest >> start;
  return start;
}

std::string HostName() {
  char host[HOST_NAME_MAX + 1] = {};
  if (gethostname(host, sizeof host - 1) != 0 || !host[0]) return "localhost";
  std::string h = host;
  for (char& c : h)
    if (c == '~' || c == '/') c = '_';
  return h;
}

bool AllDigits(const std::string& s) {
  return !s.empty() && s.size() < 19 && s.find_first_not_of("0123456789") == std::string::npos;
}

// The file being written, for the signal handler.
char g_pending[PATH_MAX + 1];
std::atomic<bool> g_has_pending{false};

}  // namespace

Owner Self() {
  static const Owner self{HostName(), (long long)getpid(), StartTimeOf(getpid())};
  return self;
}

std::string NameFor(const std::string& path) {
  static std::atomic<int> counter{0};
  const fs::path p(path);
  const Owner me = Self();
  std::string name = "." + p.stem().string() + kMarker + me.host + "~" + std::to_string(me.pid) + "~" +
                     std::to_string(me.start) + "~" + std::to_string(counter.fetch_add(1)) + p.extension().string();
  return (p.parent_path() / name).string();
}

bool ParseName(const std::string& file_name, Owner& owner) {
  const size_t at = file_name.rfind(kMarker);
  if (file_name.empty() || file_name[0] != '.' || at == std::string::npos) return false;
  std::vector<std::string> parts;
  std::stringstream ss(file_name.substr(at + sizeof kMarker - 1));
  for (std::string part; std::getline(ss, part, '~');) parts.push_back(part);
  if (parts.size() != 4 || parts[0].empty() || !AllDigits(parts[1]) || !AllDigits(parts[2])) return false;
  const std::string counter = parts[3].substr(0, parts[3].find('.'));
  if (!AllDigits(counter)) return false;
  owner.host = parts[0];
  owner.pid = std::stoll(parts[1]);
  owner.start = std::stoll(parts[2]);
  return true;
}

int CleanStale(const std::string& folder) {
  const Owner me = Self();
  int removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    Owner owner;
    if (!ParseName(it->path().filename().string(), owner) || owner.host != me.host) continue;
    if (owner.pid == me.pid && owner.start == me.start) continue;  // our own
    if (StartTimeOf(owner.pid) == owner.start) continue;           // its writer still runs
    std::error_code rm;
    if (fs::is_regular_file(it->symlink_status(rm)) && fs::remove(it->path(), rm)) ++removed;
  }
  return removed;
}

void CleanStaleOnce(const std::string& folder) {
  static std::mutex mutex;
  static std::set<std::string> done;
  std::error_code ec;
  const std::string key = fs::weakly_canonical(folder, ec).string();
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!done.insert(key).second) return;
  }
  CleanStale(folder);
}

Pending::Pending(const std::string& path) : path_(path) {
  if (path.size() <= PATH_MAX) {
    g_has_pending.store(false);
    std::memcpy(g_pending, path.c_str(), path.size() + 1);
    g_has_pending.store(true);
  }
}

Pending::~Pending() {
  g_has_pending.store(false);
  if (!done_) {
    std::error_code ec;
    fs::remove(path_, ec);
  }
}

void Pending::Done() { done_ = true; }

void RemovePendingInSignal() {
  if (g_has_pending.load()) ::unlink(g_pending);
}

}  // namespace temporary_files
