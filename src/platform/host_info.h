#ifndef VORLIN_PLATFORM_HOST_INFO_H
#define VORLIN_PLATFORM_HOST_INFO_H

#include <string>
#include <vector>

namespace vorlin {
namespace platform {

// This machine's host name; empty when it cannot be had.
std::string HostName();

// The IPv4 addresses the resolver lists for hostName, in dotted decimal form
// and in the resolver's order, without repeats; empty when the name does not
// resolve. May wait on name resolution.
std::vector<std::string> HostAddressesIPv4(const std::string& hostName);

}  // namespace platform
}  // namespace vorlin

#endif
