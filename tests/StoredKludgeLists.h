// The kludges of a settings record in their stored form, so tests can state them as the store
// keeps them.
#pragma once

#include "core/config/RelaySettings.h"
#include "core/config/StoredKludges.h"

namespace vantel::test {

inline StringList KludgeEntries(const RelaySettings& settings) {
    return SplitKludges(settings).kludges;
}

inline StringList SubstEntries(const RelaySettings& settings) {
    return SplitKludges(settings).subst;
}

inline StringList SignalStrings(const RelaySettings& settings) {
    return SplitKludges(settings).signalStr;
}

inline StringList SpecialDefinitions(const RelaySettings& settings) {
    return SplitKludges(settings).specialKludges;
}

}  // namespace vantel::test
