#pragma once
#include <string>
#include <vector>

// What a finished program gave back.
struct ProgramResult {
  int status = -1;  // exit status; 128 + signal when a signal ended it; -1 when it could not start
  std::string out, err;
};

// Runs a program (found on PATH) with its arguments, no shell in between, and
// collects its standard output and error.
ProgramResult RunProgram(const std::vector<std::string>& argv);

// The absolute path of an executable found on PATH (or of `name` itself when it
// holds a slash); empty when there is none.
std::string FindProgram(const std::string& name);
