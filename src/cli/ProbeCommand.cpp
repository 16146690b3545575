#include "cli/ProbeCommand.h"

#include <memory>
#include <ostream>

#include "cli/CliMessages.h"
#include "cli/CliNotifier.h"
#include "cli/CommandLine.h"
#include "cli/ConnectionProbe.h"
#include "cli/JsonWriter.h"
#include "cli/ProbeReportText.h"
#include "cli/SettingsSession.h"
#include "cli/SettingsWords.h"
#include "platform/EventLoop.h"
#include "platform/TlsClient.h"

namespace vantel {
namespace {

constexpr int kDefaultTimeoutSeconds = 10;

ProbeReport Probe(const ServerEntry& entry, int timeoutSeconds) {
    const std::unique_ptr<EventLoop> loop = CreateEventLoop();
    std::string problem;
    // Only an entry that needs TLS loads the trusted roots.
    const std::unique_ptr<TlsContext> tls =
        entry.Encrypted() ? CreateTlsContext({}, problem) : nullptr;
    ConnectionProbe probe(*loop, tls.get(), problem);
    return probe.Run(entry, static_cast<std::uint32_t>(timeoutSeconds) * 1000);
}

std::string Json(const ProbeReport& report, const ServerEntry& entry) {
    JsonWriter json;
    json.BeginObject()
        .Member("host", report.host)
        .Member("port", report.port)
        .Member("security", SecurityWord(entry.Security))
        .Member("connected", report.connected)
        .Member("address", report.address)
        .Member("greeting", report.greeting)
        .Member("encrypted", report.encrypted)
        .Member("tlsVersion", report.tlsVersion)
        .Member("cipher", report.cipher);
    json.Key("certificate");
    if (report.certificateSeen) {
        const CertificateInfo& c = report.certificate;
        json.BeginObject().Member("subject", c.subject).Key("names").BeginArray();
        for (const std::string& name : c.names) {
            json.String(name);
        }
        json.EndArray()
            .Member("issuer", c.issuer)
            .Member("notBefore", c.notBefore)
            .Member("notAfter", c.notAfter)
            .Member("sha256", c.fingerprint)
            .EndObject();
    } else {
        json.Null();
    }
    json.Member("verified", report.verified)
        .Member("verification", report.verification)
        .Member("error", report.error)
        .EndObject();
    return json.Text();
}

}  // namespace

int ProbeCommand::Run(const std::vector<std::string>& words) {
    CommandLine line;
    if (!line.Parse(words, {{"--timeout", true}, {"--json", false}}) ||
        line.operands().size() != 1) {
        return UsageError(context_, "probe",
                          line.error().empty() ? "give the entry's number N" : line.error());
    }
    int timeout = kDefaultTimeoutSeconds;
    if (const auto word = line.Value("--timeout")) {
        const auto seconds = ParseNumberIn(*word, 1, 3600);
        if (!seconds) {
            return Fail(context_, "--timeout is a number of seconds from 1 to 3600");
        }
        timeout = *seconds;
    }
    CliNotifier quiet;
    SettingsSession session(context_, quiet);
    session.Load();
    const std::vector<ServerEntry>& servers = session.settings().ServerList;
    const int index = EntryIndex(context_, "server", line.operands()[0], servers.size());
    if (index < 0) {
        return kExitFailed;
    }
    const ServerEntry& entry = servers[static_cast<std::size_t>(index)];
    const ProbeReport report = Probe(entry, timeout);
    context_.out << (line.Has("--json") ? Json(report, entry) : FormatProbeReport(report));
    return report.error.empty() ? kExitOk : kExitFailed;
}

bool ProbeCommand::ProbeForPin(const ServerEntry& entry, std::string& fingerprint) {
    const ProbeReport report = Probe(entry, kDefaultTimeoutSeconds);
    context_.out << FormatProbeReport(report);
    if (!report.certificateSeen || report.certificate.fingerprint.empty()) {
        Fail(context_, "the server showed no certificate: nothing was pinned");
        return false;
    }
    fingerprint = report.certificate.fingerprint;
    context_.out << "Pinned SHA-256 " << fingerprint << '\n';
    return true;
}

}  // namespace vantel
