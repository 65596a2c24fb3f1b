// vorlin dataset build: runs the Python package's Dask build in place of
// this process (the build's work is in Python, on Dask), with the
// interpreter the package was built for.
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "cli_common.h"
#include "commands.h"

namespace vorlin {
namespace cli {

const char kDatasetUsage[] =
    "usage: vorlin dataset build OUT_DIR SOURCES... [--scheduler ADDRESS] [--workers N]\n"
    "\n"
    "Imports each source (.las or .xyb) into its own QZV tile in OUT_DIR/tiles, one Dask\n"
    "task per source in a worker process, and writes OUT_DIR/catalog.json when every tile\n"
    "is done. Without --scheduler a local cluster runs one worker per core (--workers N\n"
    "sets the count); with it, the cluster at ADDRESS is used, whose workers must reach\n"
    "the sources and OUT_DIR. A failed tile is retried, then named with its status. Run\n"
    "again to resume: complete tiles of unchanged sources are kept. Ctrl-C stops the\n"
    "workers and keeps only finished tiles. Open the result with 'vorlin view\n"
    "OUT_DIR/catalog.json' or vorlin.open_dataset in Python.\n"
    "\n"
    "Needs the Python package and Dask (python3-dask, python3-distributed).\n";

#ifdef VORLIN_PYTHON
namespace {

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The folder holding the vorlin package: the build tree's, or the installed
// one relative to this program.
std::string PackageFolder() {
#ifdef VORLIN_PYTHON_BUILD_DIR
  if (IsFile(std::string(VORLIN_PYTHON_BUILD_DIR) + "/vorlin/__init__.py")) {
    return VORLIN_PYTHON_BUILD_DIR;
  }
#endif
#ifdef VORLIN_PYTHON_INSTALL_DIR
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    std::string dir(self, size_t(n));
    dir = dir.substr(0, dir.find_last_of('/'));
    const std::string installed = dir + "/../" + VORLIN_PYTHON_INSTALL_DIR;
    if (IsFile(installed + "/vorlin/__init__.py")) return installed;
  }
#endif
  return std::string();
}

}  // namespace
#endif

int RunDataset(const Words& words) {
  if (words.empty() || words[0] == "--help" || words[0] == "-h") return PrintUsage(kDatasetUsage);
  if (words[0] != "build") throw UsageError{"unknown dataset command '" + words[0] + "'"};
#ifndef VORLIN_PYTHON
  fprintf(stderr, "vorlin dataset build: this vorlin was built without the Python package\n");
  return kExitFailure;
#else
  const std::string folder = PackageFolder();
  if (folder.empty()) {
    fprintf(stderr, "vorlin dataset build: the vorlin Python package is not found (build or "
                    "install it)\n");
    return kExitFailure;
  }
  const char* old = getenv("PYTHONPATH");
  const std::string path = folder + (old && *old ? ":" + std::string(old) : "");
  setenv("PYTHONPATH", path.c_str(), 1);
  std::vector<std::string> args = {VORLIN_PYTHON, "-m", "vorlin.dataset"};
  args.insert(args.end(), words.begin() + 1, words.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  fflush(nullptr);
  execv(VORLIN_PYTHON, argv.data());
  fprintf(stderr, "vorlin dataset build: cannot run %s: %s\n", VORLIN_PYTHON, strerror(errno));
  return kExitFailure;
#endif
}

}  // namespace cli
}  // namespace vorlin
