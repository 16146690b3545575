// The words of one command: its options and the operands after them.
#pragma once

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantel {

struct OptionRule {
    std::string_view name;  ///< "--host"
    bool takesValue = false;
};

/// Options may stand anywhere among the operands, as "--name value" or "--name=value"; "--"
/// ends them. An option not in the command's list, a value missing, or an option given twice
/// is an error, so that a typing mistake never edits something else.
class CommandLine {
  public:
    /// Reads `words`; false with error() set when they do not fit `options`.
    bool Parse(const std::vector<std::string>& words, std::initializer_list<OptionRule> options);

    bool Has(std::string_view name) const { return values_.count(std::string(name)) != 0; }
    /// The value of an option that takes one; nullopt when it was not given.
    std::optional<std::string> Value(std::string_view name) const;
    const std::vector<std::string>& operands() const { return operands_; }
    const std::string& error() const { return error_; }

  private:
    std::map<std::string, std::string> values_;
    std::vector<std::string> operands_;
    std::string error_;
};

}  // namespace vantel
