#include "farm/render_args.h"

namespace {
bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }
}  // namespace

std::string OptionValue(const std::vector<std::string>& args, const std::string& long_name,
                        const std::string& short_name) {
  std::string value;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == long_name || (!short_name.empty() && a == short_name)) {
      if (i + 1 < args.size()) value = args[++i];
    } else if (StartsWith(a, long_name + "=")) {
      value = a.substr(long_name.size() + 1);
    } else if (!short_name.empty() && a.size() > short_name.size() && StartsWith(a, short_name) &&
               !StartsWith(a, "--")) {
      value = a.substr(short_name.size());
    }
  }
  return value;  // the last one given wins, as in CLI11
}

bool HasOption(const std::vector<std::string>& args, const std::string& long_name, const std::string& short_name) {
  for (const std::string& a : args)
    if (a == long_name || StartsWith(a, long_name + "=") || (!short_name.empty() && StartsWith(a, short_name) &&
                                                               !StartsWith(a, "--")))
      return true;
  return false;
}

std::string ShellWord(const std::string& word) {
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                                              "_-+=/.,:@%") == std::string::npos)
    return word;
  std::string quoted = "'";
  for (char c : word) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}
