#include "core/rewrite/KludgeEntry.h"

#include "core/config/DecimalText.h"

namespace vantel {
namespace {

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

struct Synonym {
    std::string_view headerName;
    std::string_view envelopeCommand;
};

// Envelope commands are read as header lines too, so address kludges can reach them.
constexpr Synonym kEnvelopeSynonyms[] = {
    {"To:", "RCPT TO:"},
    {"Reply-To:", "MAIL FROM:"},
};

bool StartsWith(std::string_view text, std::string_view prefix) {
    if (prefix.empty()) {
        return true;
    }
    // Every header line meets every kludge name, and most differ in the first byte already.
    return text.size() >= prefix.size() && text[0] == prefix[0] &&
           text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

std::string_view FirstWord(std::string_view text) {
    std::size_t begin = 0;
    while (begin < text.size() && IsSpace(text[begin])) {
        ++begin;
    }
    std::size_t end = begin;
    while (end < text.size() && !IsSpace(text[end])) {
        ++end;
    }
    return text.substr(begin, end - begin);
}

KludgeEntry ParseKludgeEntry(std::string_view entry) {
    KludgeEntry result;
    std::size_t consumed = 0;
    const int type = ParseDecimalPrefix(entry, consumed);
    if (consumed > 0) {
        const std::string_view name = FirstWord(entry.substr(consumed));
        if (!name.empty()) {
            result.type = type;
            result.headerName = name;
            return result;
        }
    }
    result.headerName = FirstWord(entry);
    return result;
}

bool MatchKludgeHeader(std::string_view line, std::string_view headerName) {
    return MatchKludgeHeader(line, headerName, EnvelopeSynonym(headerName));
}

bool MatchKludgeHeader(std::string_view line, std::string_view headerName,
                       std::string_view envelopeCommand) {
    return StartsWith(line, headerName) ||
           (!envelopeCommand.empty() && StartsWith(line, envelopeCommand));
}

std::string_view EnvelopeSynonym(std::string_view headerName) {
    for (const Synonym& synonym : kEnvelopeSynonyms) {
        if (headerName == synonym.headerName) {
            return synonym.envelopeCommand;
        }
    }
    return {};
}

int FindListIndex(const StringList& list, std::string_view text) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i] == text) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

SubstEntry ParseSubstEntry(std::string_view entry) {
    SubstEntry result;
    std::size_t consumed = 0;
    const int action = ParseDecimalPrefix(entry, consumed);
    if (consumed > 0) {
        result.action = action;
    }
    const std::size_t blank = entry.find(' ');
    if (blank != std::string_view::npos) {
        result.text = std::string(entry.substr(blank + 1));
    }
    return result;
}

SpecialDefinition ParseSpecialDefinition(std::string_view entry) {
    SpecialDefinition result;
    if (!entry.empty()) {
        result.separator = std::string(entry.substr(0, 1));
    }
    const std::size_t blank = entry.rfind(' ');
    if (blank != std::string_view::npos) {
        result.kludgeName = std::string(entry.substr(blank + 1));
    }
    return result;
}

std::string FormatSpecialDefinition(std::string_view separator, std::string_view kludgeName) {
    return std::string(separator.substr(0, 1)) + ' ' + std::string(kludgeName);
}

}  // namespace vantel
