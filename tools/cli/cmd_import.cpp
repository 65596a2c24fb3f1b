#include <stdio.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "args.h"
#include "cli_common.h"
#include "commands.h"
#include "progress.h"

namespace vorlin {
namespace cli {

using namespace Zelvane::Vorlin;

const char kImportUsage[] =
    "usage: vorlin import [--attributes LIST] [--quiet] OUTPUT.qzv INPUT...\n"
    "\n"
    "Indexes one or more .las or .xyb point files into one QZV file.\n"
    "\n"
    "  --attributes LIST  comma list of rgb, intensity, normal, custom, block, or all\n"
    "                     (default rgb,intensity,normal,custom)\n"
    "  --quiet            no progress and no summary\n"
    "\n"
    "Progress goes to stderr: a live bar on a terminal, one line per 10% otherwise.\n"
    "Ctrl-C cancels cleanly: no output file and no temporary files are left.\n";

namespace {

unsigned int ParseAttributes(const std::string& list) {
  unsigned int mask = 0;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string name = list.substr(start, comma - start);
    if (name == "rgb") {
      mask |= AttributeColor;
    } else if (name == "intensity") {
      mask |= AttributeIntensity;
    } else if (name == "normal") {
      mask |= AttributeNormal;
    } else if (name == "custom") {
      mask |= AttributeCustom;
    } else if (name == "block") {
      mask |= AttributeBlock;
    } else if (name == "all") {
      mask |= AttributeAll;
    } else {
      throw UsageError{"unknown attribute '" + name +
                       "' (use rgb, intensity, normal, custom, block or all)"};
    }
    start = comma + 1;
  }
  return mask;
}

// A hidden sibling of the output: the real name appears only once the file
// is complete, and an earlier file of that name survives a failed import.
std::string PartialName(const std::string& output) {
  size_t slash = output.find_last_of('/');
  std::string head = slash == std::string::npos ? "" : output.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? output : output.substr(slash + 1);
  return head + "." + base + ".partial-" + std::to_string(getpid());
}

}  // namespace

int RunImport(const Words& words) {
  const std::string command = "import";
  Args args(words, {{"attributes", true}, {"quiet", false}});
  if (args.helpRequested()) return PrintUsage(kImportUsage);
  if (args.positional().size() < 2) throw UsageError{"needs an output file and at least one input"};
  unsigned int attributes =
      AttributeColor | AttributeIntensity | AttributeNormal | AttributeCustom;
  if (args.has("attributes")) attributes = ParseAttributes(args.value("attributes"));
  const bool quiet = args.has("quiet");
  const std::string output = args.positional()[0];
  const std::vector<std::string> inputs(args.positional().begin() + 1, args.positional().end());

  // Checked here so the message can name the file; the library's status
  // alone would not say which source failed.
  uint64_t expected = 0;
  for (const std::string& input : inputs) {
    if (!IsRegularFile(input)) {
      PrintError(command, Quote(input) + ": " + (IsDirectory(input) ? "is a folder" : "no such file"));
      return kExitFailure;
    }
    if (!EndsWithNoCase(input, ".las") && !EndsWithNoCase(input, ".xyb")) {
      PrintError(command, Quote(input) + ": " + StatusText(UnsupportedFormat));
      return kExitFailure;
    }
    if (SameFile(input, output)) {
      PrintError(command, "cannot write " + Quote(output) + ": it is one of the inputs");
      return kExitFailure;
    }
    expected += EstimateSourcePoints(input.c_str());
  }
  std::string folderProblem = OutputFolderProblem(output);
  if (!folderProblem.empty()) {
    PrintError(command, "cannot create " + Quote(output) + ": " + folderProblem);
    return kExitFailure;
  }

  std::vector<std::wstring> wideInputs;
  for (const std::string& input : inputs) wideInputs.push_back(Widen(input));
  std::vector<const wchar_t*> sources;
  for (const std::wstring& w : wideInputs) sources.push_back(w.c_str());
  std::vector<IReader*> readers(inputs.size(), nullptr);
  const std::string partial = PartialName(output);
  const std::wstring widePartial = Widen(partial);

  ImportProgress::Style style = ImportProgress::Style::kSilent;
  if (!quiet) {
    style = isatty(STDERR_FILENO) ? ImportProgress::Style::kLiveBar
                                  : ImportProgress::Style::kLines;
  }
  // Held until the output has its final name, so that an interrupt can
  // never leave the partial file behind.
  InterruptGuard guard;
  const double start = NowSeconds();
  VorlinStatus status;
  {
    ImportProgress progress(stderr, style, expected);
    status = QvVorlin::import(sources.data(), widePartial.c_str(), readers.data(),
                              static_cast<unsigned int>(sources.size()), &progress, attributes);
    if (status == Ok && !InterruptGuard::interrupted()) progress.complete();
    progress.finish();
  }
  // A signal after the library's last check still counts as a cancel.
  if (status == Ok && InterruptGuard::interrupted()) status = Cancelled;
  const double seconds = NowSeconds() - start;

  if (status != Ok) {
    unlink(partial.c_str());
    std::string what = inputs.size() == 1 ? Quote(inputs[0]) : std::to_string(inputs.size()) + " files";
    PrintError(command, "importing " + what + " into " + Quote(output) + " failed: " +
                            StatusText(status));
    return kExitFailure;
  }
  if (rename(partial.c_str(), output.c_str()) != 0) {
    unlink(partial.c_str());
    PrintError(command, "cannot create " + Quote(output) + ": " + StatusText(CreateFailed));
    return kExitFailure;
  }
  if (quiet) return kExitOk;

  QzvSummary summary;
  std::string problem;
  if (!ReadQzvSummary(output, summary, problem)) {
    PrintError(command, Quote(output) + " was written but cannot be read back: " + problem);
    return kExitFailure;
  }
  double rate = seconds > 0.0 ? static_cast<double>(summary.totalPoints) / seconds : 0.0;
  printf("imported %s into %s\n", inputs.size() == 1 ? Quote(inputs[0]).c_str()
                                                    : (std::to_string(inputs.size()) + " files").c_str(),
         Quote(output).c_str());
  printf("  points:      %s\n", GroupThousands(summary.totalPoints).c_str());
  printf("  cells:       %s non-empty of %s (%d x %d x %d)\n",
         GroupThousands(summary.nonEmptyCells).c_str(),
         GroupThousands(summary.cellCount()).c_str(), summary.cells[0], summary.cells[1],
         summary.cells[2]);
  printf("  time:        %.2f s\n", seconds);
  printf("  rate:        %s points/s\n", GroupThousands(static_cast<uint64_t>(rate)).c_str());
  printf("  output size: %s (%s bytes)\n", FormatBytes(uint64_t(summary.fileSize)).c_str(),
         GroupThousands(uint64_t(summary.fileSize)).c_str());
  return kExitOk;
}

}  // namespace cli
}  // namespace vorlin
