#pragma once
#include <string>

// Temporary files written beside an output until it is complete. Their names
// say who wrote them, so that a later command can tell a file whose writer
// is gone (a crash, a kill, a second Ctrl-C) from one still being written,
// even in a folder that several farm machines share:
//   .NAME.quorvex-tmp~HOST~PID~START~N.EXT
// (START: the process's start time in clock ticks since boot, which tells a
// reused process id from the writer).
namespace temporary_files {

std::string NameFor(const std::string& path);

struct Owner {
  std::string host;
  long long pid = 0, start = 0;
};
// The writer named by a temporary file's name; false for other files.
bool ParseName(const std::string& file_name, Owner& owner);

// This process's own identity as written into the names.
Owner Self();

// Removes the temporary files in `folder` written on this host by processes
// that are gone; other hosts' files and live writers' files stay. Runs once
// per folder per process.
void CleanStaleOnce(const std::string& folder);
// The same, every time; returns how many files it removed.
int CleanStale(const std::string& folder);

// A temporary file being written: removed when the guard goes out of scope
// without Done(), and by RemovePendingInSignal() if the process is stopped.
class Pending {
 public:
  explicit Pending(const std::string& path);
  ~Pending();
  void Done();
  Pending(const Pending&) = delete;
  Pending& operator=(const Pending&) = delete;

 private:
  std::string path_;
  bool done_ = false;
};

// Async-signal-safe: unlinks the temporary file being written, if any.
void RemovePendingInSignal();

}  // namespace temporary_files
