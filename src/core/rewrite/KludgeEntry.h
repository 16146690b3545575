// Reading the entries of the kludge lists.
#pragma once

#include <string_view>

#include "core/config/RelaySettings.h"

namespace vantel {

struct KludgeEntry {
    int type = 0;                 ///< a KludgeType number
    std::string_view headerName;  ///< one word: names never contain blanks
};

/// "%d %s": a type number and a header name; an entry without a number is type 0 with its
/// first word as the name; an entry without a word has an empty name.
KludgeEntry ParseKludgeEntry(std::string_view entry);

/// A line matches a header name it begins with (case-sensitive), or, for the names "To:" and
/// "Reply-To:", a line beginning with the envelope command "RCPT TO:" or "MAIL FROM:".
bool MatchKludgeHeader(std::string_view line, std::string_view headerName);

/// Position of the first entry equal to `text`, byte for byte; -1 when there is none.
int FindListIndex(const StringList& list, std::string_view text);

/// The leading word of a text as the C runtime's "%s" reads it: white space skipped, then
/// up to the next white space.
std::string_view FirstWord(std::string_view text);

}  // namespace vantel
