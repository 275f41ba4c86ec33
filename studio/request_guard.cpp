#include "studio/request_guard.h"

#include <cctype>
#include <random>

bool RequestGuard::HostAllowed(const std::string& header) const {
  std::string name = header, port_text;
  bool has_port = false;
  if (!header.empty() && header[0] == '[') {  // [::1]:8080
    const size_t close = header.find(']');
    if (close == std::string::npos) return false;
    name = header.substr(0, close + 1);
    const std::string rest = header.substr(close + 1);
    if (!rest.empty()) {
      if (rest[0] != ':') return false;
      has_port = true;
      port_text = rest.substr(1);
    }
  } else if (const size_t colon = header.find(':'); colon != std::string::npos) {
    name = header.substr(0, colon);
    has_port = true;
    port_text = header.substr(colon + 1);
  }
  if (has_port) {
    if (port_text.empty() || port_text.size() > 5) return false;
    for (char c : port_text)
      if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    if (std::stoi(port_text) != port) return false;
  }
  std::string lower;
  for (char c : name) lower += char(std::tolower(static_cast<unsigned char>(c)));
  for (const std::string& h : hosts)
    if (lower == h) return true;
  return false;
}

bool RequestGuard::TokenMatches(const std::string& given) const {
  if (token.empty() || given.size() != token.size()) return false;
  unsigned diff = 0;
  for (size_t i = 0; i < token.size(); ++i) diff |= unsigned(token[i] ^ given[i]);
  return diff == 0;
}

std::string NewToken() {
  std::random_device rd;  // /dev/urandom on Linux
  static const char digits[] = "0123456789abcdef";
  std::string t;
  for (int i = 0; i < 8; ++i) {
    const unsigned v = rd();
    for (int k = 0; k < 4; ++k) t += digits[(v >> (4 * k)) & 15];
  }
  return t;
}

std::vector<std::string> AllowedHosts(const std::string& listen) {
  std::vector<std::string> hosts{"127.0.0.1", "localhost", "[::1]"};
  if (!listen.empty() && listen != "127.0.0.1" && listen != "0.0.0.0" && listen != "::")
    hosts.push_back(listen.find(':') != std::string::npos ? "[" + listen + "]" : listen);
  return hosts;
}
