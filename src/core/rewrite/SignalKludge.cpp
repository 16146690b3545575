#include "core/rewrite/SignalKludge.h"

#include <algorithm>

namespace vantel {
namespace {

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

/// Where `lower` first stands in `text` read in lower case, from `from` on; `text` is not
/// copied, as this runs for every matching header line.
std::size_t FindLowered(std::string_view text, std::string_view lower, std::size_t from) {
    const auto found =
        std::search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), lower.begin(),
                    lower.end(), [](char c, char l) { return LowerAscii(c) == l; });
    if (found == text.end() && !lower.empty()) {
        return std::string_view::npos;
    }
    return static_cast<std::size_t>(found - text.begin());
}

}  // namespace

std::optional<SignalKludge> ReadSignalKludge(const RelaySettings& settings, int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= settings.SpecialKludges.size()) {
        return std::nullopt;
    }
    const SpecialKludgeRecord& record = settings.SpecialKludges[static_cast<std::size_t>(index)];
    if (record.separator.empty()) {
        return std::nullopt;
    }
    SignalKludge kludge;
    kludge.separator = record.separator[0];
    kludge.kludgeName = record.kludgeName;
    kludge.signal = record.signal;
    std::transform(kludge.signal.begin(), kludge.signal.end(), kludge.signal.begin(), LowerAscii);
    return kludge;
}

bool ApplySpecialKludge(const SignalKludge& kludge, std::string_view line, std::string& output) {
    // The line is searched in lower case; the separator is taken as written, so a capital
    // letter never separates.
    const std::size_t scanStart = std::min(line.find_first_not_of(' '), line.size());
    if (FindLowered(line, kludge.signal, scanStart) == std::string_view::npos) {
        return false;
    }
    const std::string_view separator(&kludge.separator, 1);
    const std::size_t first = FindLowered(line, separator, scanStart);
    if (first == std::string_view::npos) {
        return false;
    }
    const std::size_t second = FindLowered(line, separator, first + 1);
    if (second == std::string_view::npos) {
        return false;
    }
    output.append(kludge.kludgeName);
    output += ' ';
    const std::size_t value = output.size();
    output.append(line.substr(first + 1, second - first - 1));
    std::transform(output.begin() + static_cast<std::ptrdiff_t>(value), output.end(),
                   output.begin() + static_cast<std::ptrdiff_t>(value), LowerAscii);
    if (output.back() == ' ') {
        output.pop_back();
    }
    output += "\r\n";
    return true;
}

}  // namespace vantel
