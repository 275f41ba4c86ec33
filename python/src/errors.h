#pragma once
#include <stdexcept>

// Raised to Python as quorvex.Error: a bad argument or a message of the tool.
struct QuorvexError : std::runtime_error {
  using std::runtime_error::runtime_error;
};
