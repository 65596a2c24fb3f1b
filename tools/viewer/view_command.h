#ifndef VORLIN_VIEWER_VIEW_COMMAND_H
#define VORLIN_VIEWER_VIEW_COMMAND_H

#include <string>
#include <vector>

namespace vorlin {
namespace viewer {

extern const char kViewUsage[];

// `vorlin view`: serves the files named in words to a browser page until
// SIGINT or SIGTERM. Returns the process exit code (2 for bad usage).
int RunView(const std::vector<std::string>& words);

}  // namespace viewer
}  // namespace vorlin

#endif
