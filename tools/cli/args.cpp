#include "args.h"

#include "cli_common.h"

namespace vorlin {
namespace cli {

namespace {

const OptionDef* FindOption(const std::vector<OptionDef>& options, const std::string& name) {
  for (const OptionDef& option : options) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

}  // namespace

Args::Args(const std::vector<std::string>& argv, const std::vector<OptionDef>& options) {
  bool optionsEnded = false;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& word = argv[i];
    if (optionsEnded || word.size() < 2 || word[0] != '-') {
      m_positional.push_back(word);
      continue;
    }
    if (word == "--") {
      optionsEnded = true;
      continue;
    }
    if (word == "-h" || word == "--help") {
      m_help = true;
      continue;
    }
    if (word.compare(0, 2, "--") != 0) {
      // A lone "-5" could be a number; the commands take none positionally.
      throw UsageError{"unknown option '" + word + "'"};
    }
    std::string name = word.substr(2);
    std::string value;
    bool inlineValue = false;
    size_t equals = name.find('=');
    if (equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      inlineValue = true;
    }
    const OptionDef* option = FindOption(options, name);
    if (!option) throw UsageError{"unknown option '--" + name + "'"};
    if (!option->takesValue) {
      if (inlineValue) throw UsageError{"option '--" + name + "' takes no value"};
      m_values[name] = "";
      continue;
    }
    if (!inlineValue) {
      if (i + 1 >= argv.size()) throw UsageError{"option '--" + name + "' needs a value"};
      value = argv[++i];
    }
    m_values[name] = value;
  }
}

bool Args::has(const std::string& name) const { return m_values.count(name) != 0; }

std::string Args::value(const std::string& name, const std::string& fallback) const {
  auto it = m_values.find(name);
  return it == m_values.end() ? fallback : it->second;
}

void Args::requirePositional(size_t min, size_t max) const {
  if (m_positional.size() < min) throw UsageError{"missing argument"};
  if (m_positional.size() > max) {
    throw UsageError{"unexpected argument '" + m_positional[max] + "'"};
  }
}

}  // namespace cli
}  // namespace vorlin
