// The vorlin command: indexes point clouds into QZV files and looks into them
// through the library's public interface, as any host application would.

#include <stdio.h>
#include <string.h>

#include <exception>
#include <new>
#include <string>

#include "cli_common.h"
#include "commands.h"
#include "interrupts.h"
#include "view_command.h"

namespace vorlin {
namespace cli {

namespace {

const Command kCommands[] = {
    {"import", "index .las/.laz/.xyb files into a QZV file", kImportUsage, RunImport},
    {"info", "describe a QZV, LAS or LAZ file", kInfoUsage, RunInfo},
    {"convert", "copy a LAS or LAZ file as LAS or LAZ", kConvertUsage, RunConvert},
    {"query", "print the points a box or frustum sees", kQueryUsage, RunQuery},
    {"render", "draw a level-of-detail sample as a PNG picture", kRenderUsage, RunRender},
    {"save-v3", "write a version-3 copy of a version-4 file", kSaveV3Usage, RunSaveV3},
    {"generate", "write a synthetic scene as .las or .xyb", kGenerateUsage, RunGenerate},
    {"is-local", "tell whether a file is stored on this machine", kIsLocalUsage, RunIsLocal},
    {"local-name", "print the short local file name for a path", kLocalNameUsage,
     RunLocalName},
    {"demo", "generate, import, inspect, query and render a scene", kDemoUsage, RunDemo},
    {"dataset", "build a dataset of many tiles on Dask", kDatasetUsage, RunDataset},
    {"view", "serve QZV files to a point viewer in the browser", viewer::kViewUsage,
     viewer::RunView},
};

void PrintOverview(FILE* out) {
  fprintf(out, "usage: vorlin COMMAND [ARGS...]\n       vorlin --version\n\ncommands:\n");
  for (const Command& command : kCommands) {
    fprintf(out, "  %-11s %s\n", command.name, command.summary);
  }
  fprintf(out, "\nRun 'vorlin COMMAND --help' for the options of a command.\n");
}

}  // namespace

int PrintUsage(const char* usage) {
  fputs(usage, stdout);
  return kExitOk;
}

// Output that never arrived is a failure even when the work succeeded
// (a full disk or a closed pipe behind stdout).
int CheckedExit(int code) {
  if (code == kExitOk && (fflush(stdout) != 0 || ferror(stdout))) {
    fprintf(stderr, "vorlin: writing to standard output failed\n");
    return kExitFailure;
  }
  return code;
}

int Main(int argc, char** argv) {
  InstallSignalHandlers();
  if (argc < 2) {
    PrintOverview(stderr);
    return kExitUsage;
  }
  std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    PrintOverview(stdout);
    return CheckedExit(kExitOk);
  }
  if (name == "--version" || name == "version") {
    printf("vorlin %s\n", VORLIN_VERSION);
    return CheckedExit(kExitOk);
  }
  for (const Command& command : kCommands) {
    if (name != command.name) continue;
    Words words(argv + 2, argv + argc);
    try {
      return CheckedExit(command.run(words));
    } catch (const UsageError& error) {
      PrintError(name, error.message);
      fprintf(stderr, "Run 'vorlin %s --help' for usage.\n", command.name);
      return kExitUsage;
    } catch (const std::bad_alloc&) {
      PrintError(name, "out of memory");
      return kExitFailure;
    } catch (const std::exception& error) {
      PrintError(name, std::string("unexpected error: ") + error.what());
      return kExitFailure;
    }
  }
  fprintf(stderr, "vorlin: unknown command '%s'\n\n", name.c_str());
  PrintOverview(stderr);
  return kExitUsage;
}

}  // namespace cli
}  // namespace vorlin

int main(int argc, char** argv) { return vorlin::cli::Main(argc, argv); }
