#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "args.h"
#include "cli_common.h"
#include "commands.h"
#include "interrupts.h"
#include "las_output.h"
#include "output_file.h"
#include "source_probe.h"
#include "vorlin/las_file_writer.h"
#include "vorlin/las_source.h"

namespace vorlin {
namespace cli {

using namespace Zelvane::Vorlin;

const char kConvertUsage[] =
    "usage: vorlin convert [--chunk-size N] [--force] INPUT OUTPUT\n"
    "\n"
    "Copies a .las or .laz file to OUTPUT, compressed when OUTPUT ends in .laz and\n"
    "plain when it ends in .las. The header and the variable-length records are\n"
    "carried over (the compression record added or removed) and every point record\n"
    "is copied byte for byte.\n"
    "\n"
    "  --chunk-size N  points per compressed chunk (default 50000)\n"
    "  --force         replace an existing file that is not LAS or LAZ\n"
    "\n"
    "OUTPUT appears only once it is complete; on failure or Ctrl-C (status 130)\n"
    "nothing is left and an earlier file of that name is kept.\n";

namespace {

const char* CompressionName(LasCompression compression) {
  return compression == LasCompression::None ? "LAS" : "LAZ";
}

}  // namespace

int RunConvert(const Words& words) {
  const std::string command = "convert";
  Args args(words, {{"chunk-size", true}, {"force", false}});
  if (args.helpRequested()) return PrintUsage(kConvertUsage);
  args.requirePositional(2, 2);
  const std::string input = args.positional()[0], output = args.positional()[1];
  LasWriteOptions options;
  if (EndsWithNoCase(output, ".laz")) {
    options.compress = true;
  } else if (!EndsWithNoCase(output, ".las")) {
    throw UsageError{"the output " + Quote(output) + " must end in .las or .laz"};
  }
  if (args.has("chunk-size")) {
    uint64_t size = 0;
    if (!ParseUnsigned(args.value("chunk-size"), size) || size == 0 || size > 100000000) {
      throw UsageError{"--chunk-size takes a number of points from 1 to 100000000"};
    }
    options.chunkSize = uint32_t(size);
  }
  std::string problem = InputProblem(input);
  if (!problem.empty()) {
    PrintError(command, Quote(input) + ": " + problem);
    return kExitFailure;
  }
  SourceReader reader;
  if (!reader.Open(Widen(input).c_str())) {
    PrintError(command, Quote(input) + ": " + reader.lastError());
    return kExitFailure;
  }
  const LasSourceInfo& info = reader.info();
  LasOutput out;
  if (!out.Prepare(command, output, args.has("force"), input)) return kExitFailure;
  if (!out.Open(command, info, options)) return kExitFailure;

  const size_t batch = 4096;
  std::vector<uint8_t> records(size_t(info.recordLength) * batch);
  {
    CooperativeStop stop;
    if (!reader.RewindRecords()) {
      PrintError(command, Quote(input) + ": cannot read its point records");
      return kExitFailure;
    }
    bool more = true;
    while (more) {
      size_t count = 0;
      while (count < batch && (more = reader.NextRecord(records.data() + count * info.recordLength))) ++count;
      if (reader.failed()) {
        PrintError(command, Quote(input) + ": its point records cannot be read (" + reader.lastError() +
                                "); nothing was written");
        return kExitFailure;
      }
      if (StopSignal() != 0) return StopExitCode();
      if (count > 0 && !out.Write(command, records.data(), count)) return kExitFailure;
    }
  }
  if (!out.Close(command)) return kExitFailure;
  if (info.truncated) {
    PrintError(command, "warning: " + Quote(input) + " ends after " + CountOf(info.presentCount, "point") +
                            " of the " + GroupThousands(info.announcedCount) +
                            " its header announces; the output holds those it has");
  }
  printf("converted %s (%s, point format %d, %s) to %s (%s, %s)\n", Quote(input).c_str(),
         CompressionName(info.compression), info.pointFormat,
         CountOf(out.recordsWritten(), "point").c_str(), Quote(output).c_str(),
         options.compress ? "LAZ" : "LAS", FormatBytes(uint64_t(FileSize(output))).c_str());
  return kExitOk;
}

}  // namespace cli
}  // namespace vorlin
