#include <stdio.h>

#include <string>

#include "args.h"
#include "cli_common.h"
#include "commands.h"
#include "source_probe.h"

namespace vorlin {
namespace cli {

using namespace Zelvane::Vorlin;

const char kIsLocalUsage[] =
    "usage: vorlin is-local PATH\n"
    "\n"
    "Prints 'local' when PATH is stored on this machine and 'not local' when it\n"
    "lies on another machine's share (a host would then copy it first).\n";

const char kLocalNameUsage[] =
    "usage: vorlin local-name PATH\n"
    "\n"
    "Prints the short file name under which a host keeps a local copy of PATH.\n"
    "PATH need not exist.\n";

int RunIsLocal(const Words& words) {
  const std::string command = "is-local";
  Args args(words, {});
  if (args.helpRequested()) return PrintUsage(kIsLocalUsage);
  args.requirePositional(1, 1);
  const std::string path = args.positional()[0];
  std::string problem = InputProblem(path);
  if (!problem.empty()) {
    PrintError(command, Quote(path) + ": " + problem);
    return kExitFailure;
  }
  // The test maps the file's first byte, which an empty file does not have.
  if (FileSize(path) == 0) {
    PrintError(command, Quote(path) + ": is empty, so where it is stored cannot be told");
    return kExitFailure;
  }
  std::wstring wide = Widen(path);
  printf("%s\n", QvVorlinUtil::IsFileNeedCache(wide.c_str()) ? "local" : "not local");
  return kExitOk;
}

int RunLocalName(const Words& words) {
  Args args(words, {});
  if (args.helpRequested()) return PrintUsage(kLocalNameUsage);
  args.requirePositional(1, 1);
  std::wstring wide = Widen(args.positional()[0]);
  wchar_t* name = QvVorlinUtil::ExtractLocalFileName(wide.c_str());
  printf("%s\n", Narrow(name).c_str());
  delete[] name;
  return kExitOk;
}

}  // namespace cli
}  // namespace vorlin
