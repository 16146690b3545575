#include "core/oauth/RedirectAnswer.h"

#include "core/config/AsciiText.h"
#include "core/oauth/FormEncoding.h"

namespace vantel {
namespace {

bool HasControl(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return true;
        }
    }
    return false;
}

// "http://host:port" in front of the path, from a pasted URL.
std::string_view WithoutOrigin(std::string_view target) {
    for (std::string_view scheme : {std::string_view("HTTP://"), std::string_view("HTTPS://")}) {
        if (target.size() >= scheme.size() &&
            EqualsNoCase(target.substr(0, scheme.size()), scheme)) {
            const std::string_view rest = target.substr(scheme.size());
            const std::size_t path = rest.find_first_of("/?#");
            return path == std::string_view::npos ? std::string_view("/") : rest.substr(path);
        }
    }
    return target;
}

}  // namespace

std::optional<RedirectAnswer> RedirectAnswer::Parse(std::string_view target,
                                                    std::string_view expectedPath,
                                                    std::string& problem) {
    if (target.size() > kMaxTarget) {
        problem = "the answer is too long to be a sign-in";
        return std::nullopt;
    }
    while (!target.empty() && (target.back() == ' ' || target.back() == '\n' ||
                               target.back() == '\r' || target.back() == '\t')) {
        target.remove_suffix(1);
    }
    while (!target.empty() && (target.front() == ' ' || target.front() == '\t')) {
        target.remove_prefix(1);
    }
    target = WithoutOrigin(target);
    const std::size_t fragment = target.find('#');
    if (fragment != std::string_view::npos) {
        target = target.substr(0, fragment);
    }
    const std::size_t question = target.find('?');
    std::string_view path = target.substr(0, question);
    if (path.empty() && question == 0) {
        path = "/";  // a pasted "http://127.0.0.1:1?code=.." has an empty path
    }
    if (path != expectedPath) {
        problem = "the answer came to another address than the sign-in asked for";
        return std::nullopt;
    }
    if (question == std::string_view::npos) {
        problem = "the answer carries no code";
        return std::nullopt;
    }
    std::string_view query = target.substr(question + 1);

    RedirectAnswer answer;
    bool seenCode = false, seenState = false, seenError = false, seenDescription = false,
         seenIssuer = false;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        if (pair.empty()) {
            continue;
        }
        const std::size_t equals = pair.find('=');
        const std::optional<std::string> name = PercentDecode(pair.substr(0, equals));
        const std::optional<std::string> value = PercentDecode(
            equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1));
        if (!name || !value) {
            problem = "the answer has a broken %-escape";
            return std::nullopt;
        }
        struct Known {
            const char* name;
            bool* seen;
            std::string* value;
        };
        const Known known[] = {
            {"code", &seenCode, &answer.code},
            {"state", &seenState, &answer.state},
            {"error", &seenError, &answer.error},
            {"error_description", &seenDescription, &answer.errorDescription},
            {"iss", &seenIssuer, &answer.issuer},
        };
        for (const Known& field : known) {
            if (*name != field.name) {
                continue;
            }
            if (*field.seen) {
                problem = std::string("the answer carries ") + field.name + " twice";
                return std::nullopt;
            }
            *field.seen = true;
            *field.value = *value;
        }
    }
    if (seenCode && seenError) {
        problem = "the answer carries both a code and an error";
        return std::nullopt;
    }
    if (!seenError && (!seenCode || answer.code.empty())) {
        problem = "the answer carries no code";
        return std::nullopt;
    }
    if (seenError && answer.error.empty()) {
        problem = "the answer carries an empty error";
        return std::nullopt;
    }
    if (!seenState || answer.state.empty()) {
        problem = "the answer carries no state";
        return std::nullopt;
    }
    if (HasControl(answer.code) || HasControl(answer.state) || HasControl(answer.error)) {
        problem = "the answer holds control characters";
        return std::nullopt;
    }
    return answer;
}

}  // namespace vantel
