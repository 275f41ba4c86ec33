#include "farm/text_file.h"

#include <sys/stat.h>

#include <fstream>
#include <stdexcept>

#include "app/safe_write.h"

void WriteTextFile(const std::string& path, const std::string& text, unsigned mode) {
  WriteFileSafely(path, [&](const std::string& tmp) {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw std::runtime_error("cannot write " + path);
    if (chmod(tmp.c_str(), mode) != 0) throw std::runtime_error("cannot set the permissions of " + path);
  });
}
