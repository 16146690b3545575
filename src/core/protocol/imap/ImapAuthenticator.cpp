#include "core/protocol/imap/ImapAuthenticator.h"

#include "core/config/AsciiText.h"
#include "core/config/DecimalText.h"
#include "core/protocol/LineEnds.h"

namespace vantel {
namespace {

bool IsAtomChar(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u > 0x20 && u < 0x7f && c != '(' && c != ')' && c != '{' && c != '%' && c != '*' &&
           c != '"' && c != '\\';
}

/// The literal announced at the end of `line` (its line end removed): its size, and whether
/// the client waits for a go-ahead; false when the line announces none.
bool AnnouncedLiteral(std::string_view line, std::size_t& size, bool& synchronising) {
    if (line.empty() || line.back() != '}') {
        return false;
    }
    const std::size_t open = line.rfind('{');
    if (open == std::string_view::npos) {
        return false;
    }
    std::string_view digits = line.substr(open + 1, line.size() - open - 2);
    synchronising = true;
    if (!digits.empty() && (digits.back() == '+' || digits.back() == '-')) {
        synchronising = false;
        digits.remove_suffix(1);
    }
    if (digits.empty() || digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    size = static_cast<std::size_t>(ParseDecimal(digits));
    return true;
}

}  // namespace

std::string ImapAuthenticator::OfferedCapabilities(std::string_view line, bool& initialResponse,
                                                   bool& xoauth2, bool& oauthBearer) {
    // The list starts after "* CAPABILITY" or "[CAPABILITY" and runs to "]" or the line end.
    std::string upper(line);
    for (char& c : upper) {
        c = AsciiUpper(c);
    }
    std::size_t start = std::string::npos;
    bool code = false;
    if (upper.rfind("* CAPABILITY", 0) == 0) {
        start = 12;
    } else if (const std::size_t at = upper.find("[CAPABILITY"); at != std::string::npos) {
        start = at + 11;
        code = true;
    }
    if (start == std::string::npos ||
        (start < line.size() && line[start] != ' ' && line[start] != ']' && line[start] != '\r' &&
         line[start] != '\n')) {
        return std::string(line);
    }
    std::size_t end = code ? line.find(']', start) : WithoutLineEnd(line).size();
    if (end == std::string_view::npos) {
        return std::string(line);
    }
    std::string kept;
    for (std::size_t at = start; at < end;) {
        while (at < end && line[at] == ' ') {
            ++at;
        }
        std::size_t stop = at;
        while (stop < end && line[stop] != ' ') {
            ++stop;
        }
        const std::string_view word = line.substr(at, stop - at);
        const std::string_view upperWord = std::string_view(upper).substr(at, stop - at);
        at = stop;
        if (word.empty()) {
            continue;
        }
        if (upperWord == "SASL-IR") {
            initialResponse = true;
            continue;
        }
        if (upperWord == "AUTH=XOAUTH2") {
            xoauth2 = true;
        }
        if (upperWord == "AUTH=OAUTHBEARER") {
            oauthBearer = true;
        }
        if (upperWord.rfind("AUTH=", 0) == 0 || upperWord == "LOGINDISABLED") {
            continue;
        }
        kept += ' ';
        kept += word;
    }
    kept += " AUTH=PLAIN SASL-IR";
    return std::string(line.substr(0, start)) + kept + std::string(line.substr(end));
}

std::string ImapAuthenticator::Offered(std::string_view line) {
    bool initialResponse = false;
    bool xoauth2 = false;
    bool oauthBearer = false;
    std::string offered = OfferedCapabilities(line, initialResponse, xoauth2, oauthBearer);
    ServerOffers(initialResponse, xoauth2, oauthBearer);
    return offered;
}

bool ImapAuthenticator::ReadString(std::string_view pending, std::size_t& at, std::string& out,
                                   bool& wait, bool& bad) {
    out.clear();
    if (at >= pending.size()) {
        return false;
    }
    const char first = pending[at];
    if (first == '"') {
        for (std::size_t i = at + 1; i < pending.size(); ++i) {
            const char c = pending[i];
            if (c == '\\' && i + 1 < pending.size()) {
                out += pending[++i];
            } else if (c == '"') {
                at = i + 1;
                return true;
            } else if (c == '\r' || c == '\n') {
                bad = true;
                return false;
            } else {
                out += c;
            }
        }
        return false;
    }
    if (first == '{') {
        const std::size_t lineEnd = pending.find('\n', at);
        if (lineEnd == std::string_view::npos) {
            return false;
        }
        std::size_t size = 0;
        bool synchronising = true;
        if (!AnnouncedLiteral(WithoutLineEnd(pending.substr(at, lineEnd + 1 - at)), size,
                              synchronising)) {
            bad = true;
            return false;
        }
        if (size > kMaxLoginLine) {
            // A synchronising literal is refused before it comes; the bytes of one that does
            // not wait follow whatever the answer, and none of them may pass as commands, so
            // they are held until the login is too long to read.
            bad = synchronising;
            return false;
        }
        const std::size_t body = lineEnd + 1;
        if (pending.size() < body + size) {
            wait = synchronising && answeredAt_ < body;
            if (wait) {
                answeredAt_ = body;
            }
            return false;
        }
        out.assign(pending.substr(body, size));
        at = body + size;
        return true;
    }
    std::size_t stop = at;
    while (stop < pending.size() && IsAtomChar(pending[stop])) {
        ++stop;
    }
    if (stop == pending.size()) {
        return false;
    }
    if (stop == at) {
        bad = true;
        return false;
    }
    out.assign(pending.substr(at, stop - at));
    at = stop;
    return true;
}

UpstreamAuthenticator::ClientStep ImapAuthenticator::ReadLogin(std::string_view pending,
                                                               std::size_t at) {
    ClientStep step;
    std::string account;
    std::string password;
    bool wait = false;
    bool bad = false;
    const auto badLogin = [&](std::size_t used) {
        step.kind = ClientStep::Kind::Answer;
        step.used = used;
        step.answer = tag_ + " BAD LOGIN takes the account and the password\r\n";
        answeredAt_ = 0;
        return step;
    };
    // What stands when a string is not whole yet: a go-ahead due, a bad login, or more to come.
    const auto unfinished = [&] {
        if (wait) {
            step.kind = ClientStep::Kind::Answer;
            step.answer = "+ Ready for the literal\r\n";
            return step;
        }
        const std::size_t lineEnd = pending.find('\n', at);
        return bad && lineEnd != std::string_view::npos ? badLogin(lineEnd + 1) : step;
    };
    if (!ReadString(pending, at, account, wait, bad)) {
        return unfinished();
    }
    if (at >= pending.size()) {
        return step;
    }
    if (pending[at] != ' ') {
        const std::size_t lineEnd = pending.find('\n', at);
        return lineEnd != std::string_view::npos ? badLogin(lineEnd + 1) : step;
    }
    ++at;
    if (!ReadString(pending, at, password, wait, bad)) {
        return unfinished();
    }
    const std::size_t lineEnd = pending.find('\n', at);
    if (lineEnd == std::string_view::npos) {
        return step;
    }
    if (!WithoutLineEnd(pending.substr(at, lineEnd + 1 - at)).empty()) {
        return badLogin(lineEnd + 1);
    }
    answeredAt_ = 0;
    step.kind = ClientStep::Kind::Login;
    step.used = lineEnd + 1;
    step.account = account;
    step.password = password;
    return step;
}

UpstreamAuthenticator::ClientStep ImapAuthenticator::ReadClient(std::string_view pending) {
    ClientStep step;
    if (literalLeft_ > 0) {
        step.kind = ClientStep::Kind::Pass;
        step.used = std::min(literalLeft_, pending.size());
        literalLeft_ -= step.used;
        return step;
    }
    if (awaitingPlain_) {
        const std::size_t end = pending.find('\n');
        if (end == std::string_view::npos) {
            return step;
        }
        awaitingPlain_ = false;
        step.used = end + 1;
        const std::string_view response = WithoutLineEnd(pending.substr(0, end + 1));
        if (response == "*") {
            step.kind = ClientStep::Kind::Answer;
            step.answer = tag_ + " BAD Authentication cancelled\r\n";
        } else if (DecodePlain(response, step.account, step.password)) {
            step.kind = ClientStep::Kind::Login;
        } else {
            step.kind = ClientStep::Kind::Answer;
            step.answer = tag_ + " BAD That is no PLAIN response\r\n";
        }
        return step;
    }
    // The tag and the command name, then what follows them.
    const std::size_t tagEnd = pending.find(' ');
    const std::size_t lineEnd = pending.find('\n');
    if (tagEnd == std::string_view::npos ||
        (lineEnd != std::string_view::npos && lineEnd < tagEnd)) {
        if (lineEnd == std::string_view::npos) {
            return step;
        }
        step.kind = ClientStep::Kind::Pass;
        step.used = lineEnd + 1;
        return step;
    }
    std::size_t nameEnd = tagEnd + 1;
    while (nameEnd < pending.size() && pending[nameEnd] != ' ' && pending[nameEnd] != '\r' &&
           pending[nameEnd] != '\n') {
        ++nameEnd;
    }
    if (nameEnd == pending.size()) {
        return step;
    }
    const std::string_view name = pending.substr(tagEnd + 1, nameEnd - tagEnd - 1);
    tag_.assign(pending.substr(0, tagEnd));
    if (EqualsNoCase(name, "LOGIN")) {
        if (pending[nameEnd] != ' ') {
            return lineEnd == std::string_view::npos ? step : ReadLogin(pending, nameEnd);
        }
        return ReadLogin(pending, nameEnd + 1);
    }
    if (lineEnd == std::string_view::npos) {
        return step;
    }
    step.used = lineEnd + 1;
    const std::string_view line = WithoutLineEnd(pending.substr(0, lineEnd + 1));
    if (EqualsNoCase(name, "AUTHENTICATE")) {
        std::string_view rest = line.substr(std::min(line.size(), nameEnd + 1));
        const std::size_t blank = rest.find(' ');
        const std::string_view mechanism = rest.substr(0, blank);
        step.kind = ClientStep::Kind::Answer;
        if (!EqualsNoCase(mechanism, "PLAIN")) {
            step.answer = tag_ +
                          " NO [CANNOT] Log in with LOGIN or AUTHENTICATE PLAIN, with the "
                          "account and Vantel's local password\r\n";
            return step;
        }
        if (blank == std::string_view::npos) {
            awaitingPlain_ = true;
            step.answer = "+ \r\n";
            return step;
        }
        const std::string_view initial = rest.substr(blank + 1);
        if (initial == "=") {
            step.answer = tag_ + " BAD That is no PLAIN response\r\n";
        } else if (DecodePlain(initial, step.account, step.password)) {
            step.kind = ClientStep::Kind::Login;
        } else {
            step.answer = tag_ + " BAD That is no PLAIN response\r\n";
        }
        return step;
    }
    // Any other command goes to the server, the literal it announces with it.
    step.kind = ClientStep::Kind::Pass;
    std::size_t size = 0;
    bool synchronising = true;
    if (AnnouncedLiteral(line, size, synchronising)) {
        literalLeft_ = size;
    }
    return step;
}

std::string ImapAuthenticator::StartCommand(std::string_view mechanism, std::string_view initial) {
    std::string command = tag_ + " AUTHENTICATE " + std::string(mechanism);
    if (!initial.empty()) {
        command += ' ';
        command += initial;
    }
    return command + "\r\n";
}

UpstreamAuthenticator::ServerStep ImapAuthenticator::ReadServer(std::string_view line,
                                                                std::string& challenge) {
    const std::string_view bare = WithoutLineEnd(line);
    if (!bare.empty() && bare[0] == '+') {
        challenge.assign(bare.substr(std::min<std::size_t>(2, bare.size())));
        return ServerStep::GoAhead;
    }
    if (bare.size() > tag_.size() && bare.substr(0, tag_.size()) == tag_ &&
        bare[tag_.size()] == ' ') {
        const std::string_view status = bare.substr(tag_.size() + 1, 3);
        return EqualsNoCase(status.substr(0, 2), "OK") ? ServerStep::Success : ServerStep::Refusal;
    }
    return ServerStep::Aside;
}

std::string ImapAuthenticator::SuccessAnswer(std::string_view serverLine) {
    return Offered(serverLine);
}

std::string ImapAuthenticator::RefusalAnswer(std::string_view why) {
    return tag_ + " NO [AUTHENTICATIONFAILED] Vantel: " + ClientText(why) + "\r\n";
}

std::string ImapAuthenticator::TemporaryAnswer(std::string_view why) {
    return tag_ + " NO [UNAVAILABLE] Vantel could not sign in: " + ClientText(why) + "\r\n";
}

bool ImapAuthenticator::StartsLogin(std::string_view pending) const {
    return awaitingPlain_ || WordIs(pending, 1, {"LOGIN", "AUTHENTICATE"});
}

std::string ImapAuthenticator::TooLongAnswer() {
    return "* BAD Vantel: that login is too long\r\n";
}

}  // namespace vantel
