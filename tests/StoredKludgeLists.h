// The kludges of a settings record in their stored form, so tests can state them as the store
// keeps them.
#pragma once

#include "core/config/RelaySettings.h"
#include "core/config/StoredKludges.h"

namespace vantel::test {

inline StringList KludgeEntries(const RelaySettings& settings) {
    StringList entries;
    for (const KludgeRecord& kludge : settings.Kludges) {
        entries.push_back(FormatKludgeEntry(kludge));
    }
    return entries;
}

inline StringList SubstEntries(const RelaySettings& settings) {
    StringList entries;
    for (const KludgeRecord& kludge : settings.Kludges) {
        entries.push_back(FormatSubstEntry(kludge));
    }
    return entries;
}

inline StringList SignalStrings(const RelaySettings& settings) {
    StringList entries;
    for (const SpecialKludgeRecord& special : settings.SpecialKludges) {
        entries.push_back(special.signal);
    }
    return entries;
}

inline StringList SpecialDefinitions(const RelaySettings& settings) {
    StringList entries;
    for (const SpecialKludgeRecord& special : settings.SpecialKludges) {
        entries.push_back(FormatSpecialDefinition(special));
    }
    return entries;
}

}  // namespace vantel::test
