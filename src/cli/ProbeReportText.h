// A probe's report as the text `vantel probe` prints, and the cleaning every server-sent
// string gets before it is shown.
#pragma once

#include <string>

#include "cli/ConnectionProbe.h"

namespace vantel {

/// The report for people, one fact per line, every line ending in "\n":
///   Connected to 127.0.0.1:9465 (localhost)
///   Greeting: 220 mail.example.org ESMTP ready
///   TLS: TLSv1.3, TLS_AES_256_GCM_SHA384
///   Certificate:
///     Subject:  CN=localhost
///     ...
///   Verification: verified: the certificate is trusted and is for localhost
/// followed by "Error: ..." when the relay could not use the server (unless the verification
/// line already said why). Everything from the server goes through PrintableText.
std::string FormatProbeReport(const ProbeReport& report);

}  // namespace vantel
