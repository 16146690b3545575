#include "core/protocol/imap/ImapCapabilityFilter.h"

#include <algorithm>

#include "core/config/AsciiText.h"

namespace vantel {
namespace {

using Shape = ImapCapabilityFilter::Shape;

constexpr std::string_view kCapability = "CAPABILITY";
constexpr std::string_view kCompress = "COMPRESS=";

/// Whether `text` starts with `word` (given in capitals; any case in `text`) followed by one
/// of `ends`.
Shape StartsWithWord(std::string_view text, std::string_view word, std::string_view ends) {
    const std::size_t n = std::min(text.size(), word.size());
    if (!EqualsNoCase(text.substr(0, n), word.substr(0, n))) {
        return Shape::No;
    }
    if (text.size() <= word.size()) {
        return Shape::Maybe;
    }
    return ends.find(text[word.size()]) != std::string_view::npos ? Shape::Yes : Shape::No;
}

}  // namespace

Shape ImapCapabilityFilter::Classify(std::string_view head) {
    const std::size_t space = head.find(' ');
    if (space == std::string_view::npos) {
        const bool over = head.size() > kMaxTag || head.find('\n') != std::string_view::npos;
        return over ? Shape::No : Shape::Maybe;
    }
    const std::string_view rest = head.substr(space + 1);
    const Shape response = StartsWithWord(rest, kCapability, " \r\n");
    if (response != Shape::No) {
        return response;
    }
    bool maybe = false;
    for (const std::string_view status : {"OK", "NO", "BAD", "PREAUTH", "BYE"}) {
        switch (StartsWithWord(rest, status, " ")) {
            case Shape::No:
                break;
            case Shape::Maybe:
                maybe = true;
                break;
            case Shape::Yes:
                return StartsWithWord(rest.substr(status.size() + 1), "[CAPABILITY", " ]");
        }
    }
    return maybe ? Shape::Maybe : Shape::No;
}

std::string ImapCapabilityFilter::WithoutCompress(std::string_view line, bool secured) {
    // The list runs from "CAPABILITY" to the "]" of a response code, or to the line end.
    std::size_t start = line.find(' ') + 1;
    while (start < line.size() &&
           !EqualsNoCase(line.substr(start, kCapability.size()), kCapability)) {
        ++start;
    }
    start = std::min(start + kCapability.size(), line.size());
    const bool code = start > kCapability.size() && line[start - kCapability.size() - 1] == '[';
    std::size_t end = code ? line.find(']', start) : std::string_view::npos;
    if (end == std::string_view::npos) {
        end = line.find_first_of("\r\n", start);
        end = end == std::string_view::npos ? line.size() : end;
    }
    std::string filtered(line.substr(0, start));
    for (std::size_t at = start; at < end;) {
        // Each capability with the blank before it.
        const std::size_t word = line.find_first_not_of(' ', at);
        std::size_t next = word == std::string_view::npos ? end : line.find(' ', word);
        next = std::min(next == std::string_view::npos ? end : next, end);
        const std::string_view capability =
            line.substr(std::min(word, end), next - std::min(word, end));
        const bool compress = capability.size() > kCompress.size() &&
                              EqualsNoCase(capability.substr(0, kCompress.size()), kCompress);
        const bool preTls = secured && (EqualsNoCase(capability, "STARTTLS") ||
                                        EqualsNoCase(capability, "LOGINDISABLED"));
        if (!compress && !preTls) {
            filtered.append(line.substr(at, next - at));
        }
        at = next;
    }
    filtered.append(line.substr(end));
    return filtered;
}

std::string ImapCapabilityFilter::WithoutCapabilityCode(std::string_view line, bool& listed,
                                                        bool& offersStartTls) {
    listed = false;
    offersStartTls = false;
    const std::size_t open = line.find('[');
    if (open == std::string_view::npos ||
        StartsWithWord(line.substr(open + 1), kCapability, " ") != Shape::Yes) {
        return std::string(line);
    }
    const std::size_t close = line.find(']', open);
    if (close == std::string_view::npos) {
        return std::string(line);
    }
    listed = true;
    std::string_view list = line.substr(open + 1, close - open - 1);
    while (!list.empty()) {
        const std::size_t blank = std::min(list.find(' '), list.size());
        if (EqualsNoCase(list.substr(0, blank), "STARTTLS")) {
            offersStartTls = true;
        }
        list.remove_prefix(std::min(blank + 1, list.size()));
    }
    std::size_t after = close + 1;
    if (after < line.size() && line[after] == ' ') {
        ++after;
    }
    return std::string(line.substr(0, open)).append(line.substr(after));
}

}  // namespace vantel
