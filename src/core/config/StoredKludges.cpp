#include "core/config/StoredKludges.h"

#include <utility>

#include "core/config/DecimalText.h"

namespace vantel {
namespace {

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

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

/// The action is the leading number, the text everything after the first blank.
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

/// A separator and a name as loading takes them: the separator is the entry's first byte, the
/// name whatever follows its final space.
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

std::string FormatSpecialDefinition(std::string_view separator, std::string_view kludgeName) {
    return std::string(separator.substr(0, 1)) + ' ' + std::string(kludgeName);
}

KludgeRecord ReadKludge(std::string_view kludgeEntry, std::string_view substEntry) {
    const KludgeEntry entry = ParseKludgeEntry(kludgeEntry);
    SubstEntry subst = ParseSubstEntry(substEntry);
    return {entry.type, std::string(entry.headerName), subst.action, std::move(subst.text)};
}

SpecialKludgeRecord ReadSpecialKludge(std::string_view signal, std::string_view definition) {
    SpecialKludgeRecord record;
    record.signal = std::string(signal);
    if (definition.find(' ') != std::string_view::npos) {
        SpecialDefinition parsed = ParseSpecialDefinition(definition);
        record.separator = std::move(parsed.separator);
        record.kludgeName = std::move(parsed.kludgeName);
    }
    return record;
}

std::vector<KludgeRecord> PairKludges(const StringList& kludges, const StringList& subst) {
    std::vector<KludgeRecord> records;
    records.reserve(kludges.size());
    for (std::size_t i = 0; i < kludges.size(); ++i) {
        records.push_back(ReadKludge(kludges[i], i < subst.size() ? subst[i] : std::string()));
    }
    return records;
}

std::vector<SpecialKludgeRecord> PairSpecialKludges(const StringList& signalStr,
                                                    const StringList& specialKludges) {
    std::vector<SpecialKludgeRecord> records;
    records.reserve(signalStr.size());
    for (std::size_t i = 0; i < signalStr.size(); ++i) {
        records.push_back(ReadSpecialKludge(
            signalStr[i], i < specialKludges.size() ? specialKludges[i] : std::string()));
    }
    return records;
}

std::string FormatKludgeEntry(const KludgeRecord& kludge) {
    // A number before no name would read back as the name.
    return kludge.headerName.empty() ? std::string()
                                     : FormatDecimal(kludge.type) + ' ' + kludge.headerName;
}

std::string FormatSubstEntry(const KludgeRecord& kludge) {
    return kludge.action == -1 && kludge.text.empty()
               ? std::string()
               : FormatDecimal(kludge.action) + ' ' + kludge.text;
}

std::string FormatSpecialDefinition(const SpecialKludgeRecord& special) {
    return special.separator.empty()
               ? std::string()
               : FormatSpecialDefinition(special.separator, special.kludgeName);
}

StoredKludgeLists SplitKludges(const RelaySettings& settings) {
    StoredKludgeLists lists;
    for (const KludgeRecord& kludge : settings.Kludges) {
        lists.kludges.push_back(FormatKludgeEntry(kludge));
        lists.subst.push_back(FormatSubstEntry(kludge));
    }
    for (const SpecialKludgeRecord& special : settings.SpecialKludges) {
        lists.signalStr.push_back(special.signal);
        lists.specialKludges.push_back(FormatSpecialDefinition(special));
    }
    return lists;
}

int FindSpecialKludge(const std::vector<SpecialKludgeRecord>& specials, std::string_view signal) {
    for (std::size_t i = 0; i < specials.size(); ++i) {
        if (specials[i].signal == signal) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace vantel
