#ifndef VORLIN_CLI_ARGS_H
#define VORLIN_CLI_ARGS_H

// Command-line parsing shared by the subcommands: long options (--name VALUE,
// --name=VALUE, or bare flags) mixed freely with positional arguments; "--"
// ends the options. Problems throw UsageError.

#include <map>
#include <string>
#include <vector>

namespace vorlin {
namespace cli {

struct OptionDef {
  const char* name;  // without the leading dashes
  bool takesValue;
};

class Args {
 public:
  // argv holds the words after the subcommand name. Throws UsageError on an
  // unknown option, a missing value or a flag given a value. --help and -h
  // are always recognised.
  Args(const std::vector<std::string>& argv, const std::vector<OptionDef>& options);

  bool helpRequested() const { return m_help; }
  bool has(const std::string& name) const;
  // The last value given for name, or fallback.
  std::string value(const std::string& name, const std::string& fallback = "") const;
  const std::vector<std::string>& positional() const { return m_positional; }

  // Throws UsageError unless the number of positional arguments lies in
  // [min, max].
  void requirePositional(size_t min, size_t max) const;

 private:
  std::map<std::string, std::string> m_values;
  std::vector<std::string> m_positional;
  bool m_help = false;
};

}  // namespace cli
}  // namespace vorlin

#endif
