#pragma once
#include <string>
#include <vector>

// Who may talk to the studio: every request carries the token printed with
// the address, and its Host header names an address the server answers on
// (against DNS rebinding, where a foreign page's name resolves to 127.0.0.1).
struct RequestGuard {
  std::string token;
  std::vector<std::string> hosts;  // allowed host names, without port
  int port = 0;

  // True when `host_header` ("127.0.0.1:8080", "localhost", "[::1]:8080")
  // names one of the allowed hosts and, when it has a port, our port.
  bool HostAllowed(const std::string& host_header) const;
  // Compares in time independent of where the texts differ.
  bool TokenMatches(const std::string& given) const;
};

// 32 hexadecimal digits from the system's random source.
std::string NewToken();

// The loopback names, plus `listen` when it is another address.
std::vector<std::string> AllowedHosts(const std::string& listen);
