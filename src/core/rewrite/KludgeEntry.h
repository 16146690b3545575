// Reading the entries of the kludge lists.
#pragma once

#include <string>
#include <string_view>

#include "core/config/RelaySettings.h"

namespace vantel {

struct KludgeEntry {
    int type = 0;                 ///< a KludgeType number
    std::string_view headerName;  ///< one word: names never contain blanks
};

/// What a kludge does, as its "Subst" entry holds it.
struct SubstEntry {
    int action = -1;   ///< a KludgeAction number; -1 when the entry has none
    std::string text;  ///< the text, file path or signal string
};

/// A special kludge's definition, as its "SpecialKludges" entry holds it.
struct SpecialDefinition {
    std::string separator;  ///< one character, or empty for an empty entry
    std::string kludgeName;
};

/// "%d %s": a type number and a header name; an entry without a number is type 0 with its
/// first word as the name; an entry without a word has an empty name.
KludgeEntry ParseKludgeEntry(std::string_view entry);

/// The action is the leading number, the text everything after the first blank.
SubstEntry ParseSubstEntry(std::string_view entry);

/// "%c %s" as the relay reads it: the first character, and the text after the last blank.
SpecialDefinition ParseSpecialDefinition(std::string_view entry);
/// The entry for a separator (its first character) and a name.
std::string FormatSpecialDefinition(std::string_view separator, std::string_view kludgeName);

/// A line matches a header name it begins with (case-sensitive), or, for the names "To:" and
/// "Reply-To:", a line beginning with the envelope command "RCPT TO:" or "MAIL FROM:".
bool MatchKludgeHeader(std::string_view line, std::string_view headerName);
/// The same with the name's EnvelopeSynonym looked up beforehand.
bool MatchKludgeHeader(std::string_view line, std::string_view headerName,
                       std::string_view envelopeCommand);
/// The envelope command a header name also matches; empty for names that have none.
std::string_view EnvelopeSynonym(std::string_view headerName);

/// Position of the first entry equal to `text`, byte for byte; -1 when there is none.
int FindListIndex(const StringList& list, std::string_view text);

/// The leading word of a text as the C runtime's "%s" reads it: white space skipped, then
/// up to the next white space.
std::string_view FirstWord(std::string_view text);

}  // namespace vantel
