#include "core/relay/SecretMasker.h"

namespace vantel {
namespace {

constexpr std::string_view kMask = "****";

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}

/// Splits a line into its content and its line end (CR LF, LF, or nothing).
std::string_view LineEnd(std::string_view line) {
    std::size_t content = line.size();
    while (content > 0 && (line[content - 1] == '\n' || line[content - 1] == '\r')) {
        --content;
    }
    return line.substr(content);
}

}  // namespace

std::string SecretMasker::MaskClientText(std::string_view text) {
    std::string masked;
    masked.reserve(text.size());
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        const std::string_view line = text.substr(0, lf == std::string_view::npos ? lf : lf + 1);
        text.remove_prefix(line.size());
        const std::string_view end = LineEnd(line);
        const std::string_view content = line.substr(0, line.size() - end.size());

        if (StartsWithNoCase(content, "PASS ")) {
            masked.append(content.substr(0, 5)).append(kMask);
        } else if (StartsWithNoCase(content, "AUTH ")) {
            authInProgress_ = true;
            // "AUTH PLAIN <initial response>": the mechanism may show, the response not.
            const std::size_t argument = content.find(' ', 5);
            masked.append(content.substr(0, argument));
            if (argument != std::string_view::npos) {
                masked.append(" ").append(kMask);
            }
        } else if (authInProgress_ && !content.empty()) {
            masked.append(kMask);
        } else {
            masked.append(content);
        }
        masked.append(end);
    }
    return masked;
}

void SecretMasker::ServerReplied(std::string_view text) {
    if (authInProgress_ && !text.empty() && text.substr(0, 3) != "334") {
        authInProgress_ = false;
    }
}

}  // namespace vantel
