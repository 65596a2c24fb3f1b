#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "args.h"
#include "cli_common.h"
#include "commands.h"
#include "interrupts.h"
#include "output_file.h"
#include "progress.h"
#include "source_probe.h"
#include "vorlin/las_source.h"

namespace vorlin {
namespace cli {

using namespace Zelvane::Vorlin;

const char kImportUsage[] =
    "usage: vorlin import [--attributes LIST] [--builtin-reader] [--quiet] [--force]\n"
    "                     OUTPUT.qzv INPUT...\n"
    "\n"
    "Indexes one or more .las, .laz or .xyb point files into one QZV file.\n"
    "\n"
    "  --attributes LIST  comma list of rgb, intensity, normal, custom, block, or all\n"
    "                     (default rgb,intensity,normal,custom)\n"
    "  --builtin-reader   read .las files with the library's built-in reader (point\n"
    "                     formats 0 to 5 only) instead of the LAS/LAZ source reader\n"
    "  --quiet            no progress and no summary (warnings still go to stderr)\n"
    "  --force            accept an output name without .qzv, an existing file that\n"
    "                     is not a QZV file, or a symbolic link (written through)\n"
    "\n"
    "The output comes first and must end in .qzv. An existing QZV file of that name\n"
    "is replaced only once the new one is complete; a write-protected file, a\n"
    "folder, a device or a FIFO is never replaced.\n"
    "\n"
    "The summary lists the points of every source against its header, and the\n"
    "attributes kept and dropped (an attribute that some source lacks is dropped).\n"
    "Progress goes to stderr: a live bar on a terminal, one line per 10% otherwise.\n"
    "Ctrl-C (or a hang-up or broken pipe) cancels cleanly with status 130: no output\n"
    "and no temporary files are left; a second Ctrl-C or SIGTERM ends at once.\n";

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

bool IsQzvFile(const std::string& path) {
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return false;
  char magic[3] = {0, 0, 0};
  size_t got = fread(magic, 1, 3, file);
  fclose(file);
  return got == 3 && memcmp(magic, "QZV", 3) == 0;
}

// The file's attribute flags as the import requests them; normals count as
// kept whether read or generated.
unsigned int KeptAttributes(uint32_t fileFlags) {
  unsigned int kept = 0;
  if (fileFlags & 0x01) kept |= AttributeColor;
  if (fileFlags & 0x02) kept |= AttributeIntensity;
  if (fileFlags & 0x0C) kept |= AttributeNormal;
  if (fileFlags & 0x10) kept |= AttributeCustom;
  if (fileFlags & 0x20) kept |= AttributeBlock;
  return kept;
}

std::string AttributeNames(unsigned int mask) {
  static const std::pair<unsigned int, const char*> kNames[] = {
      {AttributeColor, "colour"}, {AttributeIntensity, "intensity"}, {AttributeNormal, "normals"},
      {AttributeCustom, "custom byte"}, {AttributeBlock, "attribute block"}};
  std::string out;
  for (const auto& entry : kNames) {
    if (mask & entry.first) out += (out.empty() ? "" : ", ") + std::string(entry.second);
  }
  return out.empty() ? "none" : out;
}

bool UsesSourceReader(const std::string& input, bool builtinLas) {
  return EndsWithNoCase(input, ".laz") || (!builtinLas && EndsWithNoCase(input, ".las"));
}

// The source reader's own description of a LAS or LAZ file, or why it cannot
// deliver a single point.
SourceFacts SourceReaderFacts(const std::string& path) {
  SourceFacts facts;
  facts.las = true;
  SourceReader reader;
  if (!reader.Open(Widen(path).c_str())) {
    facts.problem = reader.lastError();
    return facts;
  }
  const LasSourceInfo& info = reader.info();
  facts.announced = info.announcedCount;
  facts.held = info.presentCount;
  double minimum[3], maximum[3];
  unsigned long long count = 0;
  if (!reader.FileStats(minimum, maximum, count, facts.attributes)) facts.attributes = 0;
  if (info.announcedCount == 0) {
    facts.problem = "no points: the file holds no points (its header announces none)";
  } else if (info.presentCount == 0) {
    facts.problem = "no points: the file ends before its first point record";
  }
  return facts;
}

// Cancels an import as soon as it starts binning: by then every source has
// been opened and its header accepted.
class StopAtBinning : public IVorlinProgress {
 public:
  void setProgress(double percent) override { m_binning = m_binning || percent > 0.0; }
  void reserved() override {}
  bool isCancelled() override { return m_binning || StopSignal() != 0; }
  void setRange(double from, double) override { m_binning = m_binning || from >= 20.0; }

 private:
  bool m_binning = false;
};

// The library's status does not say which source failed; importing each one
// alone up to the start of binning does, at the cost of opening it again.
std::string FailingSource(const std::vector<std::string>& inputs, const std::string& target,
                          unsigned int attributes, bool builtinLas) {
  for (const std::string& input : inputs) {
    std::unique_ptr<SourceReader> reader;
    if (UsesSourceReader(input, builtinLas)) reader.reset(new SourceReader);
    OutputFile scratch;
    std::string ignored;
    if (!scratch.Create(target, ignored)) return std::string();
    StopAtBinning stop;
    std::wstring wideInput = Widen(input), wideScratch = Widen(scratch.writePath());
    VorlinStatus status = QvVorlin::import(wideInput.c_str(), wideScratch.c_str(), reader.get(), &stop, attributes);
    if (StopSignal() != 0) return std::string();
    if (status != Ok && status != Cancelled) return input;
  }
  return std::string();
}

void PrintSummary(const std::vector<std::string>& inputs, const std::vector<SourceFacts>& facts,
                  const std::string& output, const QzvSummary& summary, double seconds,
                  unsigned int requested) {
  printf("imported %s into %s\n",
         inputs.size() == 1 ? Quote(inputs[0]).c_str() : CountOf(inputs.size(), "file").c_str(),
         Quote(output).c_str());
  for (size_t i = 0; i < inputs.size() && (inputs.size() > 1 || facts[i].held < facts[i].announced); ++i) {
    const SourceFacts& f = facts[i];
    if (f.held < f.announced) {
      printf("  %s: %s of %s points (the file ends early)\n", inputs[i].c_str(),
             GroupThousands(f.held).c_str(), GroupThousands(f.announced).c_str());
    } else {
      printf("  %s: %s\n", inputs[i].c_str(), CountOf(f.announced, "point").c_str());
    }
  }
  printf("  points:      %s\n", GroupThousands(summary.totalPoints).c_str());
  unsigned int offered = 0;
  for (const SourceFacts& f : facts) offered |= f.attributes;
  const unsigned int kept = KeptAttributes(summary.attributeFlags);
  const unsigned int dropped = requested & offered & ~kept;
  printf("  attributes:  %s%s%s\n", AttributeNames(kept).c_str(),
         dropped ? "; dropped: " : "", dropped ? AttributeNames(dropped).c_str() : "");
  printf("  cells:       %s non-empty of %s (%d x %d x %d)\n",
         GroupThousands(summary.nonEmptyCells).c_str(), GroupThousands(summary.cellCount()).c_str(),
         summary.cells[0], summary.cells[1], summary.cells[2]);
  // Below a second the rate says more about start-up than about the import.
  if (seconds >= 1.0) {
    printf("  time:        %.1f s (%s points/s)\n", seconds,
           GroupThousands(uint64_t(double(summary.totalPoints) / seconds)).c_str());
  }
  printf("  output size: %s (%s bytes)\n", FormatBytes(uint64_t(summary.fileSize)).c_str(),
         GroupThousands(uint64_t(summary.fileSize)).c_str());
}

// Warnings a person must see even with --quiet: points or attributes that
// did not make it into the file.
void WarnAboutLosses(const std::string& command, const std::vector<std::string>& inputs,
                     const std::vector<SourceFacts>& facts, const QzvSummary& summary,
                     unsigned int requested) {
  uint64_t expected = 0;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const SourceFacts& f = facts[i];
    if (f.las && f.held < f.announced) {
      PrintError(command, "warning: " + Quote(inputs[i]) + " ends after " + CountOf(f.held, "point") +
                              " of the " + GroupThousands(f.announced) +
                              " its header announces; the rest is missing from the output");
    }
    expected += f.held < f.announced ? f.held : f.announced;
  }
  if (summary.totalPoints != expected) {
    PrintError(command, "warning: the sources hold " + CountOf(expected, "point") + " but " +
                            GroupThousands(summary.totalPoints) + " were imported");
  }
  const unsigned int kept = KeptAttributes(summary.attributeFlags);
  for (unsigned int bit : {unsigned(AttributeColor), unsigned(AttributeIntensity), unsigned(AttributeCustom)}) {
    if (!(requested & bit) || (kept & bit)) continue;
    std::string lacking;
    bool anyHas = false;
    for (size_t i = 0; i < inputs.size(); ++i) {
      if (facts[i].attributes & bit) {
        anyHas = true;
      } else {
        lacking += (lacking.empty() ? "" : ", ") + Quote(inputs[i]);
      }
    }
    if (anyHas && !lacking.empty()) {
      PrintError(command, "warning: " + AttributeNames(bit) + " dropped from every point: " + lacking +
                              (lacking.find(',') == std::string::npos ? " has" : " have") + " none");
    }
  }
}

}  // namespace

int RunImport(const Words& words) {
  const std::string command = "import";
  Args args(words, {{"attributes", true}, {"builtin-reader", false}, {"quiet", false}, {"force", false}});
  if (args.helpRequested()) return PrintUsage(kImportUsage);
  if (args.positional().size() < 2) throw UsageError{"needs an output file and at least one input"};
  unsigned int attributes = AttributeColor | AttributeIntensity | AttributeNormal | AttributeCustom;
  if (args.has("attributes")) attributes = ParseAttributes(args.value("attributes"));
  const bool quiet = args.has("quiet");
  const bool force = args.has("force");
  const bool builtinLas = args.has("builtin-reader");
  const std::string output = args.positional()[0];
  const std::vector<std::string> inputs(args.positional().begin() + 1, args.positional().end());

  // The output comes first; a source name there would be overwritten.
  if (!force && !EndsWithNoCase(output, ".qzv")) {
    throw UsageError{"the output " + Quote(output) +
                     " does not end in .qzv (the output comes first: vorlin import OUT.qzv "
                     "INPUT...); give --force to use this name"};
  }
  std::string target;
  std::string outputProblem = OutputProblem(output, force, target);
  if (!outputProblem.empty()) {
    PrintError(command, "cannot write " + Quote(output) + ": " + outputProblem);
    return kExitFailure;
  }
  if (!force && IsRegularFile(target) && !IsQzvFile(target)) {
    PrintError(command, "cannot write " + Quote(output) +
                            ": it exists and is not a QZV file; give --force to replace it");
    return kExitFailure;
  }

  std::vector<SourceFacts> facts;
  for (const std::string& input : inputs) {
    std::string problem = InputProblem(input);
    if (!problem.empty()) {
      PrintError(command, Quote(input) + ": " + problem);
      return kExitFailure;
    }
    if (!EndsWithNoCase(input, ".las") && !EndsWithNoCase(input, ".laz") && !EndsWithNoCase(input, ".xyb")) {
      PrintError(command, Quote(input) + ": " + StatusText(UnsupportedFormat) + "; use .las, .laz or .xyb files");
      return kExitFailure;
    }
    if (SameFile(input, target)) {
      PrintError(command, "cannot write " + Quote(output) + ": it is one of the inputs");
      return kExitFailure;
    }
    facts.push_back(UsesSourceReader(input, builtinLas) ? SourceReaderFacts(input) : ProbeSource(input));
    if (facts.back().problem.empty() && facts.back().held == 0) {
      facts.back().problem = facts.back().announced == 0
                                 ? "no points: the file holds no points"
                                 : "no points: the file ends before its first point record";
    }
    if (!facts.back().problem.empty()) {
      PrintError(command, Quote(input) + ": " + facts.back().problem);
      return kExitFailure;
    }
  }
  std::string tempProblem = TemporaryFolderProblem();
  if (!tempProblem.empty()) {
    PrintError(command, "cannot import: " + tempProblem);
    return kExitFailure;
  }

  std::vector<std::wstring> wideInputs;
  for (const std::string& input : inputs) wideInputs.push_back(Widen(input));
  std::vector<const wchar_t*> sources;
  for (const std::wstring& w : wideInputs) sources.push_back(w.c_str());
  std::vector<std::unique_ptr<SourceReader>> sourceReaders;
  std::vector<IReader*> readers(inputs.size(), nullptr);
  for (size_t i = 0; i < inputs.size(); ++i) {
    if (!UsesSourceReader(inputs[i], builtinLas)) continue;
    sourceReaders.emplace_back(new SourceReader);
    // LAZ decoding then runs beside the import's own work.
    sourceReaders.back()->SetDecodeAhead(true);
    readers[i] = sourceReaders.back().get();
  }

  OutputFile file;
  std::string error;
  if (!file.Create(target, error)) {
    PrintError(command, "cannot write " + Quote(output) + ": " + error);
    return kExitFailure;
  }
  const std::wstring wideOutput = Widen(file.writePath());
  ImportProgress::Style style = ImportProgress::Style::kSilent;
  if (!quiet) {
    style = isatty(STDERR_FILENO) ? ImportProgress::Style::kLiveBar : ImportProgress::Style::kLines;
  }
  const double start = NowSeconds();
  VorlinStatus status;
  {
    CooperativeStop stop;
    {
      ImportProgress progress(stderr, style);
      status = QvVorlin::import(sources.data(), wideOutput.c_str(), readers.data(),
                                static_cast<unsigned int>(sources.size()), &progress, attributes);
      if (status == Ok && StopSignal() == 0) progress.complete();
      progress.finish();
    }
    // A signal after the library's last check still counts as a cancel.
    if (StopSignal() != 0) status = Cancelled;
    if (status != Ok) {
      file.Abandon();
      const std::string what =
          inputs.size() == 1 ? Quote(inputs[0]) : std::to_string(inputs.size()) + " files";
      std::string culprit;
      if (inputs.size() > 1 && (status == OpenFailed || status == ReadFailed || status == OutOfExtents)) {
        culprit = FailingSource(inputs, target, attributes, builtinLas);
      }
      // A source reader remembers why its pass failed, which names the file.
      std::string reason;
      for (size_t i = 0; reason.empty() && i < inputs.size(); ++i) {
        SourceReader* reader = dynamic_cast<SourceReader*>(readers[i]);
        if (reader && !reader->lastError().empty()) {
          reason = reader->lastError();
          if (inputs.size() > 1) culprit = inputs[i];
        }
      }
      std::string detail = StatusText(status);
      if (status == TempFileFailed) detail += "; is the temporary folder full?";
      if (!reason.empty()) detail += " (" + reason + ")";
      PrintError(command, "importing " + what + " into " + Quote(output) + " failed: " + detail +
                              (culprit.empty() ? "" : "; the source that fails is " + Quote(culprit)));
      return status == Cancelled ? StopExitCode() : kExitFailure;
    }
  }
  const double seconds = NowSeconds() - start;
  QzvSummary summary;
  std::string problem;
  if (!ReadQzvSummary(file.writePath(), summary, problem)) {
    PrintError(command, Quote(output) + " was written but cannot be read back: " + problem);
    return kExitFailure;
  }
  if (summary.totalPoints == 0) {
    file.Abandon();
    PrintError(command, "no points: " + (inputs.size() == 1 ? Quote(inputs[0]) : std::string("the sources")) +
                            " delivered none to the import; nothing was written");
    return kExitFailure;
  }
  if (!file.Commit(error)) {
    PrintError(command, "cannot write " + Quote(output) + ": " + error);
    return kExitFailure;
  }
  WarnAboutLosses(command, inputs, facts, summary, attributes);
  if (!quiet) PrintSummary(inputs, facts, output, summary, seconds, attributes);
  return kExitOk;
}

}  // namespace cli
}  // namespace vorlin
