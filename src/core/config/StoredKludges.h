// The kludge lists as the store keeps them: parallel lists of "number text" and
// "separator name" entries that pair by position. Only loading and saving see them; the
// program holds records.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/config/KludgeRecord.h"
#include "core/config/RelaySettings.h"
#include "core/config/SpecialKludgeRecord.h"

namespace vantel {

/// A "Kludges" entry as read.
struct KludgeEntry {
    int type = 0;                 ///< a KludgeType number
    std::string_view headerName;  ///< one word: names never contain blanks
};

/// A type number, a blank and a header name; an entry without a number is type 0 with its
/// first word as the name; an entry without a word has an empty name.
KludgeEntry ParseKludgeEntry(std::string_view entry);

/// The entry for a separator (its first character) and a name.
std::string FormatSpecialDefinition(std::string_view separator, std::string_view kludgeName);

/// The leading word of a text as the C runtime's "%s" reads it: white space skipped, then
/// up to the next white space.
std::string_view FirstWord(std::string_view text);

/// The kludge a pair of stored entries reads as.
KludgeRecord ReadKludge(std::string_view kludgeEntry, std::string_view substEntry);
/// The special kludge a signal string and a stored definition read as. A definition without
/// a blank defines nothing (the relay ignores it), so it reads without a separator.
SpecialKludgeRecord ReadSpecialKludge(std::string_view signal, std::string_view definition);

/// Pairs the stored lists by position. Every kludge gets an action, none when its "Subst"
/// entry is missing, and entries past the last kludge go: a hand-edited store with lists of
/// unequal length loads as the relay has always read it.
std::vector<KludgeRecord> PairKludges(const StringList& kludges, const StringList& subst);
/// The same for the special kludges: the signal strings say how many there are.
std::vector<SpecialKludgeRecord> PairSpecialKludges(const StringList& signalStr,
                                                    const StringList& specialKludges);

/// The four lists the kludges of `settings` are saved as; each entry reads back as its record.
struct StoredKludgeLists {
    StringList kludges;
    StringList subst;
    StringList signalStr;
    StringList specialKludges;
};
StoredKludgeLists SplitKludges(const RelaySettings& settings);

/// The stored entries of a record; each reads back as the record.
std::string FormatKludgeEntry(const KludgeRecord& kludge);
std::string FormatSubstEntry(const KludgeRecord& kludge);
std::string FormatSpecialDefinition(const SpecialKludgeRecord& special);

/// Position of the first special kludge whose signal string equals `signal`, byte for byte;
/// -1 when there is none.
int FindSpecialKludge(const std::vector<SpecialKludgeRecord>& specials, std::string_view signal);

}  // namespace vantel
