#ifndef VORLIN_CLI_OUTPUT_FILE_H
#define VORLIN_CLI_OUTPUT_FILE_H

// Every file the command writes appears under its name only when complete.
// It is written as an unnamed file in the target's folder and linked in at
// the end, so that no way of ending the process (even SIGKILL) leaves a part
// behind. Where the file system has no unnamed files, a hidden name in the
// same folder stands in, removed on every exit path the process controls.
// An earlier file of the target's name survives any failure.

#include <sys/types.h>

#include <string>

namespace vorlin {
namespace cli {

// Why path may not be written, or empty when it may. Refused: folders,
// devices, FIFOs and sockets; write-protected files; symbolic links unless
// force (then the file the link names is the target, and must pass the same
// checks); folders that are missing or not writable. target receives the
// path to write.
std::string OutputProblem(const std::string& path, bool force, std::string& target);

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // abandons an uncommitted file
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // target should have passed OutputProblem. False with error set.
  bool Create(const std::string& target, std::string& error);
  int fd() const { return m_fd; }
  // A name through which another writer (the library, stdio) can open the
  // file; it stays valid until Commit or Abandon.
  const std::string& writePath() const { return m_writePath; }
  // Gives the file its final name, replacing an earlier file of that name
  // (whose permission bits it keeps). False with error set; the file is
  // then abandoned.
  bool Commit(std::string& error);
  // Removes the file; only ever a name this object created.
  void Abandon();

 private:
  std::string m_target;
  std::string m_writePath;
  std::string m_hiddenName;  // only in the named fallback
  int m_fd = -1;
  int m_slot = -1;
  bool m_unnamed = false;
  bool m_keepMode = false;
  mode_t m_mode = 0;
};

}  // namespace cli
}  // namespace vorlin

#endif
