// Matching header lines against kludges.
#pragma once

#include <string>
#include <string_view>

#include "core/config/RelaySettings.h"
#include "core/config/StoredKludges.h"

namespace vantel {

/// A line matches a header name it begins with (case-sensitive), or, for the names "To:" and
/// "Reply-To:", a line beginning with the envelope command "RCPT TO:" or "MAIL FROM:".
bool MatchKludgeHeader(std::string_view line, std::string_view headerName);
/// The same with the name's EnvelopeSynonym looked up beforehand.
bool MatchKludgeHeader(std::string_view line, std::string_view headerName,
                       std::string_view envelopeCommand);
/// The envelope command a header name also matches; empty for names that have none.
std::string_view EnvelopeSynonym(std::string_view headerName);

}  // namespace vantel
