#include "core/rewrite/KludgeEntry.h"

namespace vantel {
namespace {

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

}  // namespace vantel
