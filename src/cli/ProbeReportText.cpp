#include "cli/ProbeReportText.h"

#include "cli/PrintableText.h"

namespace vantel {
namespace {

/// The label column of the greeting's and the certificate's lines.
constexpr std::string_view kGreetingLabel = "Greeting: ";
constexpr std::string_view kIndent = "  ";

/// One line of server text: its line end dropped, the rest made printable.
std::string Line(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    return PrintableText(line);
}

std::string Field(std::string_view label, const std::string& value) {
    std::string text = std::string(kIndent) + std::string(label);
    text.resize(kIndent.size() + 13, ' ');
    return text + value + "\n";
}

}  // namespace

std::string FormatProbeReport(const ProbeReport& report) {
    const std::string host = PrintableText(report.host);
    std::string text;
    if (report.connected) {
        text += "Connected to " + report.address + " (" + host + ")\n";
    } else {
        text += "Not connected to " + host + " port " + std::to_string(report.port);
        text += report.address.empty() ? "\n" : " (tried " + report.address + ")\n";
    }

    std::string_view greeting = report.greeting;
    for (bool first = true; !greeting.empty(); first = false) {
        const std::size_t lf = greeting.find('\n');
        const std::size_t end = lf == std::string_view::npos ? greeting.size() : lf + 1;
        text += first ? std::string(kGreetingLabel) : std::string(kGreetingLabel.size(), ' ');
        text += Line(greeting.substr(0, end)) + "\n";
        greeting.remove_prefix(end);
    }
    if (report.greetingCut) {
        text += std::string(kGreetingLabel.size(), ' ') + "... (cut after " +
                std::to_string(report.greeting.size()) + " bytes)\n";
    }

    if (report.encrypted) {
        text += "TLS: " + report.tlsVersion +
                (report.cipher.empty() ? "" : ", " + PrintableText(report.cipher)) + "\n";
    }
    if (report.certificateSeen) {
        const CertificateInfo& certificate = report.certificate;
        std::string names;
        for (const std::string& name : certificate.names) {
            names += (names.empty() ? "" : ", ") + PrintableText(name);
        }
        text += "Certificate:\n";
        text += Field("Subject:", PrintableText(certificate.subject));
        text += Field("Names:", names.empty() ? "none" : names);
        text += Field("Issuer:", PrintableText(certificate.issuer));
        text += Field("Valid:", PrintableText(certificate.notBefore) + " to " +
                                    PrintableText(certificate.notAfter));
        text += Field("SHA-256:", certificate.fingerprint);
    }
    if (!report.verification.empty()) {
        text += "Verification: " + PrintableText(report.verification) + "\n";
    }
    if (!report.error.empty() && report.error != report.verification) {
        text += "Error: " + PrintableText(report.error) + "\n";
    }
    return text;
}

}  // namespace vantel
