#pragma once
#include <stdexcept>
#include <string>

// Bad usage or an unreadable input: the command stops with exit status 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
