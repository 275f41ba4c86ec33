#pragma once
#include <stdexcept>
#include <string>

// A request the server refuses: the HTTP status to answer with and a message
// for the page. The server keeps running.
struct ClientError : std::runtime_error {
  ClientError(int status, const std::string& message) : std::runtime_error(message), Status(status) {}
  int Status;
};
