#ifndef VORLIN_CLI_COMMANDS_H
#define VORLIN_CLI_COMMANDS_H

// One entry point per subcommand. Each takes the words after its own name
// and returns the process exit code; bad usage throws UsageError.

#include <string>
#include <vector>

namespace vorlin {
namespace cli {

using Words = std::vector<std::string>;

struct Command {
  const char* name;
  const char* summary;
  const char* usage;  // full --help text
  int (*run)(const Words& words);
};

int RunImport(const Words& words);
int RunInfo(const Words& words);
int RunConvert(const Words& words);
int RunQuery(const Words& words);
int RunRender(const Words& words);
int RunSaveV3(const Words& words);
int RunGenerate(const Words& words);
int RunIsLocal(const Words& words);
int RunLocalName(const Words& words);
int RunDemo(const Words& words);
int RunDataset(const Words& words);

extern const char kImportUsage[];
extern const char kInfoUsage[];
extern const char kConvertUsage[];
extern const char kQueryUsage[];
extern const char kRenderUsage[];
extern const char kSaveV3Usage[];
extern const char kGenerateUsage[];
extern const char kIsLocalUsage[];
extern const char kLocalNameUsage[];
extern const char kDemoUsage[];
extern const char kDatasetUsage[];

// Prints the help text of a command on stdout; returns the exit code 0.
int PrintUsage(const char* usage);

}  // namespace cli
}  // namespace vorlin

#endif
