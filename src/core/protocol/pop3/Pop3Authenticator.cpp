#include "core/protocol/pop3/Pop3Authenticator.h"

#include "core/config/AsciiText.h"
#include "core/protocol/LineEnds.h"

namespace vantel {
namespace {

bool StartsNoCase(std::string_view text, std::string_view upper) {
    return text.size() >= upper.size() && EqualsNoCase(text.substr(0, upper.size()), upper);
}

}  // namespace

UpstreamAuthenticator::ClientStep Pop3Authenticator::ReadClient(std::string_view pending) {
    ClientStep step;
    const std::size_t end = pending.find('\n');
    if (end == std::string_view::npos) {
        return step;
    }
    step.used = end + 1;
    const std::string_view line = WithoutLineEnd(pending.substr(0, end + 1));
    step.kind = ClientStep::Kind::Answer;
    if (awaitingPlain_) {
        awaitingPlain_ = false;
        if (line == "*") {
            step.answer = "-ERR Authentication cancelled\r\n";
        } else if (DecodePlain(line, step.account, step.password)) {
            step.kind = ClientStep::Kind::Login;
        } else {
            step.answer = "-ERR That is no PLAIN response\r\n";
        }
        return step;
    }
    const std::size_t blank = line.find(' ');
    const std::string_view command = line.substr(0, blank);
    const std::string_view argument =
        blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
    if (EqualsNoCase(command, "USER")) {
        user_.assign(argument);
        step.answer = "+OK Now the local password, with PASS\r\n";
    } else if (EqualsNoCase(command, "PASS")) {
        if (user_.empty()) {
            step.answer = "-ERR [AUTH] USER first\r\n";
        } else {
            step.kind = ClientStep::Kind::Login;
            step.account = user_;
            step.password.assign(argument);
        }
    } else if (EqualsNoCase(command, "AUTH")) {
        const std::size_t more = argument.find(' ');
        const std::string_view mechanism = argument.substr(0, more);
        if (mechanism.empty()) {
            step.answer = "+OK\r\nPLAIN\r\n.\r\n";
        } else if (!EqualsNoCase(mechanism, "PLAIN")) {
            step.answer =
                "-ERR [AUTH] Log in with USER and PASS or AUTH PLAIN, with the account and "
                "Vantel's local password\r\n";
        } else if (more == std::string_view::npos) {
            awaitingPlain_ = true;
            step.answer = "+ \r\n";
        } else if (DecodePlain(argument.substr(more + 1), step.account, step.password)) {
            step.kind = ClientStep::Kind::Login;
        } else {
            step.answer = "-ERR That is no PLAIN response\r\n";
        }
    } else if (EqualsNoCase(command, "APOP")) {
        step.answer =
            "-ERR [AUTH] Log in with USER and PASS or AUTH PLAIN, with the account and "
            "Vantel's local password\r\n";
    } else {
        if (EqualsNoCase(command, "CAPA")) {
            capa_ = Capa::Asked;
        }
        step.kind = ClientStep::Kind::Pass;
    }
    return step;
}

std::string Pop3Authenticator::Offered(std::string_view line) {
    const std::string_view bare = WithoutLineEnd(line);
    if (!greeted_) {
        greeted_ = true;
        return std::string(line);
    }
    if (capa_ == Capa::Asked) {
        if (StartsNoCase(bare, "+OK")) {
            capa_ = Capa::Listing;
            listedUser_ = false;
            listedSasl_ = false;
        } else {
            capa_ = Capa::None;
        }
        return std::string(line);
    }
    if (capa_ != Capa::Listing) {
        return std::string(line);
    }
    if (bare == ".") {
        capa_ = Capa::None;
        std::string added;
        if (!listedUser_) {
            added += "USER\r\n";
        }
        if (!listedSasl_) {
            added += "SASL PLAIN\r\n";
        }
        return added + std::string(line);
    }
    if (EqualsNoCase(bare, "USER")) {
        listedUser_ = true;
    }
    if (StartsNoCase(bare, "SASL ") || EqualsNoCase(bare, "SASL")) {
        listedSasl_ = true;
        std::string upper(bare);
        for (char& c : upper) {
            c = AsciiUpper(c);
        }
        const bool xoauth2 = (upper + ' ').find(" XOAUTH2 ") != std::string::npos;
        const bool bearer = (upper + ' ').find(" OAUTHBEARER ") != std::string::npos;
        ServerOffers(false, xoauth2, bearer);
        return "SASL PLAIN\r\n";
    }
    return std::string(line);
}

std::string Pop3Authenticator::StartCommand(std::string_view mechanism, std::string_view) {
    return "AUTH " + std::string(mechanism) + "\r\n";
}

UpstreamAuthenticator::ServerStep Pop3Authenticator::ReadServer(std::string_view line,
                                                                std::string& challenge) {
    const std::string_view bare = WithoutLineEnd(line);
    if (StartsNoCase(bare, "+OK")) {
        return ServerStep::Success;
    }
    if (!bare.empty() && bare[0] == '+') {
        challenge.assign(bare.substr(std::min<std::size_t>(2, bare.size())));
        return ServerStep::GoAhead;
    }
    return ServerStep::Refusal;
}

std::string Pop3Authenticator::SuccessAnswer(std::string_view serverLine) {
    return std::string(serverLine);
}

std::string Pop3Authenticator::RefusalAnswer(std::string_view why) {
    return "-ERR [AUTH] Vantel: " + ClientText(why) + "\r\n";
}

std::string Pop3Authenticator::TemporaryAnswer(std::string_view why) {
    return "-ERR [SYS/TEMP] Vantel could not sign in: " + ClientText(why) + "\r\n";
}

bool Pop3Authenticator::StartsLogin(std::string_view pending) const {
    return awaitingPlain_ || WordIs(pending, 0, {"USER", "PASS", "AUTH", "APOP"});
}

std::string Pop3Authenticator::TooLongAnswer() {
    return "-ERR [AUTH] Vantel: that login is too long\r\n";
}

}  // namespace vantel
