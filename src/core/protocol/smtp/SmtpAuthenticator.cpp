#include "core/protocol/smtp/SmtpAuthenticator.h"

#include <optional>
#include "core/config/AsciiText.h"
#include "core/protocol/LineEnds.h"

#include "core/oauth/Base64.h"

namespace vantel {
namespace {

bool IsReplyLine(std::string_view line) {
    return line.size() >= 3 && line[0] >= '2' && line[0] <= '5' && line[1] >= '0' &&
           line[1] <= '9' && line[2] >= '0' && line[2] <= '9' &&
           (line.size() == 3 || line[3] == ' ' || line[3] == '-');
}

bool LastOfReply(std::string_view line) {
    return line.size() == 3 || line[3] == ' ';
}

const char* const kMechanismsText =
    "504 5.5.4 Log in with AUTH PLAIN or AUTH LOGIN, with the account and Vantel's local "
    "password\r\n";

}  // namespace

UpstreamAuthenticator::ClientStep SmtpAuthenticator::ReadClient(std::string_view pending) {
    ClientStep step;
    const std::size_t end = pending.find('\n');
    if (end == std::string_view::npos) {
        return step;
    }
    step.used = end + 1;
    const std::string_view line = WithoutLineEnd(pending.substr(0, end + 1));
    step.kind = ClientStep::Kind::Answer;
    if (awaiting_ != Awaiting::Nothing) {
        const Awaiting was = awaiting_;
        awaiting_ = Awaiting::Nothing;
        if (line == "*") {
            step.answer = "501 5.7.0 Authentication cancelled\r\n";
            return step;
        }
        if (was == Awaiting::Plain) {
            if (DecodePlain(line, step.account, step.password)) {
                step.kind = ClientStep::Kind::Login;
            } else {
                step.answer = "501 5.5.2 That is no PLAIN response\r\n";
            }
            return step;
        }
        const std::optional<std::string> decoded = Base64Decode(line);
        if (!decoded) {
            step.answer = "501 5.5.2 That is no base64\r\n";
        } else if (was == Awaiting::LoginUser) {
            user_ = *decoded;
            awaiting_ = Awaiting::LoginPassword;
            step.answer = "334 UGFzc3dvcmQ6\r\n";
        } else {
            step.kind = ClientStep::Kind::Login;
            step.account = user_;
            step.password = *decoded;
        }
        return step;
    }
    const std::size_t blank = line.find(' ');
    const std::string_view verb = line.substr(0, blank);
    const std::string_view argument =
        blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
    if (EqualsNoCase(verb, "AUTH")) {
        const std::size_t more = argument.find(' ');
        const std::string_view mechanism = argument.substr(0, more);
        const std::string_view initial =
            more == std::string_view::npos ? std::string_view() : argument.substr(more + 1);
        if (EqualsNoCase(mechanism, "PLAIN")) {
            if (initial.empty()) {
                awaiting_ = Awaiting::Plain;
                step.answer = "334 \r\n";
            } else if (DecodePlain(initial, step.account, step.password)) {
                step.kind = ClientStep::Kind::Login;
            } else {
                step.answer = "501 5.5.2 That is no PLAIN response\r\n";
            }
        } else if (EqualsNoCase(mechanism, "LOGIN")) {
            if (initial.empty()) {
                awaiting_ = Awaiting::LoginUser;
                step.answer = "334 VXNlcm5hbWU6\r\n";
            } else if (const std::optional<std::string> user = Base64Decode(initial)) {
                user_ = *user;
                awaiting_ = Awaiting::LoginPassword;
                step.answer = "334 UGFzc3dvcmQ6\r\n";
            } else {
                step.answer = "501 5.5.2 That is no base64\r\n";
            }
        } else {
            step.answer = kMechanismsText;
        }
        return step;
    }
    for (const std::string_view mail : {"MAIL", "RCPT", "DATA", "BDAT", "BURL"}) {
        if (EqualsNoCase(verb, mail)) {
            step.answer =
                "530 5.7.0 Authentication required: log in with the account and Vantel's "
                "local password\r\n";
            return step;
        }
    }
    if (EqualsNoCase(verb, "EHLO")) {
        ++ehloAnswers_;
    }
    step.kind = ClientStep::Kind::Pass;
    return step;
}

std::string SmtpAuthenticator::Offered(std::string_view line) {
    const std::string_view bare = WithoutLineEnd(line);
    if (!IsReplyLine(bare)) {
        return std::string(line);
    }
    const bool first = firstLine_;
    const bool last = LastOfReply(bare);
    firstLine_ = last;
    if (first && greeted_ && ehloAnswers_ > 0) {
        --ehloAnswers_;
        inEhloAnswer_ = bare.substr(0, 3) == "250";
    }
    if (!greeted_) {
        greeted_ = last;
        return std::string(line);
    }
    if (!inEhloAnswer_) {
        return std::string(line);
    }
    const std::string_view text = bare.substr(std::min<std::size_t>(4, bare.size()));
    std::string upper(text);
    for (char& c : upper) {
        c = AsciiUpper(c);
    }
    if (!first && (upper.rfind("AUTH ", 0) == 0 || upper.rfind("AUTH=", 0) == 0)) {
        ServerOffers(false, (upper + ' ').find(" XOAUTH2 ") != std::string::npos,
                     (upper + ' ').find(" OAUTHBEARER ") != std::string::npos);
        if (!last) {
            return "";
        }
        inEhloAnswer_ = false;
        return "250 AUTH PLAIN LOGIN\r\n";
    }
    if (!last) {
        return std::string(line);
    }
    inEhloAnswer_ = false;
    // The offer goes before the last line, which stays the last.
    if (first) {
        return "250-" + std::string(text) + "\r\n250 AUTH PLAIN LOGIN\r\n";
    }
    return "250-AUTH PLAIN LOGIN\r\n" + std::string(line);
}

std::string SmtpAuthenticator::StartCommand(std::string_view mechanism, std::string_view) {
    return "AUTH " + std::string(mechanism) + "\r\n";
}

UpstreamAuthenticator::ServerStep SmtpAuthenticator::ReadServer(std::string_view line,
                                                                std::string& challenge) {
    const std::string_view bare = WithoutLineEnd(line);
    if (!IsReplyLine(bare)) {
        return ServerStep::Part;
    }
    if (!LastOfReply(bare)) {
        return ServerStep::Part;
    }
    lastCode_ = bare[0];
    if (bare.substr(0, 3) == "334") {
        challenge.assign(bare.substr(std::min<std::size_t>(4, bare.size())));
        return ServerStep::GoAhead;
    }
    return bare[0] == '2' ? ServerStep::Success : ServerStep::Refusal;
}

std::string SmtpAuthenticator::SuccessAnswer(std::string_view) {
    return "235 2.7.0 Authentication successful\r\n";
}

std::string SmtpAuthenticator::RefusalAnswer(std::string_view why) {
    if (lastCode_ == '4') {
        return TemporaryAnswer(why);
    }
    return "535 5.7.8 Vantel: " + ClientText(why) + "\r\n";
}

std::string SmtpAuthenticator::TemporaryAnswer(std::string_view why) {
    lastCode_ = '5';
    return "454 4.7.0 Vantel could not sign in: " + ClientText(why) + "\r\n";
}

bool SmtpAuthenticator::StartsLogin(std::string_view pending) const {
    return awaiting_ != Awaiting::Nothing || WordIs(pending, 0, {"AUTH"});
}

std::string SmtpAuthenticator::TooLongAnswer() {
    return "500 5.5.6 Vantel: that login is too long\r\n";
}

}  // namespace vantel
