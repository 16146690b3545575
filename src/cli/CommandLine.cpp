#include "cli/CommandLine.h"

#include <algorithm>

namespace vantel {

bool CommandLine::Parse(const std::vector<std::string>& words,
                        std::initializer_list<OptionRule> options) {
    values_.clear();
    operands_.clear();
    error_.clear();
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-' || word == "-") {
            operands_.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const auto known = std::find_if(options.begin(), options.end(),
                                        [&name](const OptionRule& o) { return o.name == name; });
        if (known == options.end()) {
            error_ = "unknown option " + name;
            return false;
        }
        if (values_.count(name) != 0) {
            error_ = name + " is given twice";
            return false;
        }
        std::string value;
        if (known->takesValue) {
            if (equals != std::string::npos) {
                value = word.substr(equals + 1);
            } else if (i + 1 < words.size()) {
                value = words[++i];
            } else {
                error_ = name + " needs a value";
                return false;
            }
        } else if (equals != std::string::npos) {
            error_ = name + " takes no value";
            return false;
        }
        values_[name] = value;
    }
    return true;
}

std::optional<std::string> CommandLine::Value(std::string_view name) const {
    const auto found = values_.find(std::string(name));
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

}  // namespace vantel
