#pragma once
#include <string>
#include <vector>

// The quorvex-render arguments a farm job carries, as the user wrote them.

// The value of an option in any of the spellings CLI11 takes: "--frames 1-10",
// "--frames=1-10", "-o out.exr", "-oout.exr". Empty when absent.
std::string OptionValue(const std::vector<std::string>& args, const std::string& long_name,
                        const std::string& short_name = "");
bool HasOption(const std::vector<std::string>& args, const std::string& long_name, const std::string& short_name = "");

// One word for a POSIX shell: single-quoted unless plainly safe.
std::string ShellWord(const std::string& word);
