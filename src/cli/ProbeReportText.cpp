#include "cli/ProbeReportText.h"

#include <cstdint>

namespace vantel {
namespace {

/// The label column of the greeting's and the certificate's lines.
constexpr std::string_view kGreetingLabel = "Greeting: ";
constexpr std::string_view kIndent = "  ";

/// The length of the well-formed UTF-8 sequence of a character that is no control at the
/// start of `text`, else 0.
std::size_t PrintableSequence(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        code = lead & 0x1fu;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        code = lead & 0x0fu;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0u) != 0x80u) {
            return 0;
        }
        code = code << 6 | (byte(i) & 0x3fu);
    }
    const std::uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    const bool fits = code >= least && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff) &&
                      !(code >= 0x80 && code <= 0x9f);  // C1 controls, read by some terminals
    return fits ? length : 0;
}

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

std::string PrintableText(std::string_view text) {
    std::string printable;
    printable.reserve(text.size());
    while (!text.empty()) {
        const char c = text.front();
        std::size_t length = 1;
        if (c >= 0x20 && c < 0x7f) {
            printable += c;
        } else if (c == '\t') {
            printable += ' ';
        } else if ((length = PrintableSequence(text)) > 0) {
            printable.append(text.substr(0, length));
        } else {
            length = 1;
            printable += '?';
        }
        text.remove_prefix(length);
    }
    return printable;
}

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
