#include "core/rewrite/SignalKludge.h"

#include <algorithm>

namespace vantel {
namespace {

std::string ToLowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

}  // namespace

std::optional<std::string> ApplySpecialKludge(const RelaySettings& settings, std::string_view line,
                                              int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= settings.SpecialKludges.size() ||
        static_cast<std::size_t>(index) >= settings.SignalStr.size()) {
        return std::nullopt;
    }
    // "<separator> <kludge name>"; an entry without a blank has no name and does nothing.
    const std::string& definition = settings.SpecialKludges[static_cast<std::size_t>(index)];
    const std::size_t lastBlank = definition.rfind(' ');
    if (definition.empty() || lastBlank == std::string::npos) {
        return std::nullopt;
    }
    const char separator = definition[0];
    const std::string_view kludgeName = std::string_view(definition).substr(lastBlank + 1);

    const std::string lowerLine = ToLowerAscii(line);
    const std::size_t scanStart = std::min(lowerLine.find_first_not_of(' '), lowerLine.size());
    const std::string signal = ToLowerAscii(settings.SignalStr[static_cast<std::size_t>(index)]);
    if (lowerLine.find(signal, scanStart) == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t first = lowerLine.find(separator, scanStart);
    if (first == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t second = lowerLine.find(separator, first + 1);
    if (second == std::string::npos) {
        return std::nullopt;
    }
    std::string result(kludgeName);
    result += ' ';
    result.append(lowerLine, first + 1, second - first - 1);
    if (result.back() == ' ') {
        result.pop_back();
    }
    result += "\r\n";
    return result;
}

}  // namespace vantel
