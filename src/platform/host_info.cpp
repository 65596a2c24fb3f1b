#include "platform/host_info.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace vorlin {
namespace platform {

std::string HostName() {
  char buffer[256] = {};
  // gethostname may leave a truncated name unterminated.
  if (gethostname(buffer, sizeof buffer - 1) != 0) return std::string();
  buffer[sizeof buffer - 1] = '\0';
  return std::string(buffer);
}

std::vector<std::string> HostAddressesIPv4(const std::string& hostName) {
  std::vector<std::string> addresses;
  if (hostName.empty()) return addresses;
  addrinfo hints = {};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;  // one entry per address, not per socket type
  addrinfo* list = nullptr;
  if (getaddrinfo(hostName.c_str(), nullptr, &hints, &list) != 0) return addresses;
  for (const addrinfo* item = list; item != nullptr; item = item->ai_next) {
    if (item->ai_family != AF_INET || item->ai_addr == nullptr) continue;
    const sockaddr_in* address = reinterpret_cast<const sockaddr_in*>(item->ai_addr);
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) == nullptr) continue;
    if (std::find(addresses.begin(), addresses.end(), text) == addresses.end())
      addresses.push_back(text);
  }
  freeaddrinfo(list);
  return addresses;
}

}  // namespace platform
}  // namespace vorlin
