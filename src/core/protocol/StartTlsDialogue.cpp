#include "core/protocol/StartTlsDialogue.h"

#include "core/config/AsciiText.h"
#include "core/protocol/ProtocolDescriptor.h"
#include "core/protocol/imap/ImapCapabilityFilter.h"
#include "core/protocol/smtp/ReplyCode.h"

namespace vantel {
namespace {

constexpr std::string_view kImapTag = "V1";
/// How much of a server's refusal the reason quotes.
constexpr std::size_t kQuoted = 120;

bool StartsWithNoCase(std::string_view text, std::string_view upper) {
    return text.size() >= upper.size() && EqualsNoCase(text.substr(0, upper.size()), upper);
}

/// A server line as a notice may quote it: one line, printable, not too long.
std::string Quote(std::string_view line) {
    std::string text;
    for (const char c : line.substr(0, kQuoted)) {
        if (c == '\r' || c == '\n') {
            break;
        }
        text += (c >= 0x20 && c < 0x7f) ? c : '?';
    }
    return "\"" + text + (line.size() > kQuoted ? "...\"" : "\"");
}

/// A reply line carrying the three-digit `code`.
bool HasCode(std::string_view line, std::string_view code) {
    return ReplyCode(line) >= 0 && line.substr(0, 3) == code;
}

}  // namespace

StartTlsDialogue::Step StartTlsDialogue::FromServer(std::string_view block, std::string& toServer) {
    if (state_ == State::Done) {
        return failure_.empty() ? Step::Upgrade : Step::Failed;
    }
    while (!block.empty()) {
        const std::size_t lf = block.find('\n');
        const std::size_t end = lf == std::string_view::npos ? block.size() : lf + 1;
        partial_.append(block.substr(0, end));
        block.remove_prefix(end);
        seen_ += end;
        if (partial_.size() > kMaxLine || seen_ > kMaxText) {
            return Fail("server sent no proper answer before TLS");
        }
        if (partial_.back() != '\n') {
            break;
        }
        const std::string line = std::move(partial_);
        partial_.clear();
        const Step step = Line(line, toServer);
        if (step != Step::Talking) {
            if (step == Step::Upgrade) {
                rest_.assign(block);
            }
            return step;
        }
    }
    return Step::Talking;
}

StartTlsDialogue::Step StartTlsDialogue::Line(std::string_view line, std::string& toServer) {
    switch (state_) {
        case State::Greeting:
            return Greeted(line, toServer);
        case State::Extensions:
            // The answer to EHLO; its first line names the server.
            if (ReplyCode(line) != 250) {
                return Fail("server refused EHLO: " + Quote(line));
            }
            offered_ = offered_ || EqualsNoCase(EhloKeyword(line), "STARTTLS");
            if (IsContinuedReply(line)) {
                return Step::Talking;
            }
            if (!offered_) {
                return Fail("server does not offer STARTTLS");
            }
            AskForTls(toServer);
            return Step::Talking;
        case State::Answer:
            break;
        case State::Done:
            return Step::Talking;
    }
    const std::string refused = "server refused " + std::string(protocol_->startTls) + ": ";
    switch (protocol_->replies) {
        case ReplyStyle::Status:
            return StartsWithNoCase(line, protocol_->startTlsGoAhead) ? Upgrade()
                                                                      : Fail(refused + Quote(line));
        case ReplyStyle::Tagged: {
            if (StartsWithNoCase(line, "* ")) {
                return Step::Talking;  // untagged data before the answer
            }
            const std::string tagged = std::string(kImapTag) + " ";
            if (!StartsWithNoCase(line, tagged)) {
                return Fail("server sent no proper answer to " + std::string(protocol_->startTls) +
                            ": " + Quote(line));
            }
            return StartsWithNoCase(line.substr(tagged.size()), protocol_->startTlsGoAhead)
                       ? Upgrade()
                       : Fail(refused + Quote(line));
        }
        case ReplyStyle::Coded:
            break;
    }
    if (IsContinuedReply(line)) {
        return Step::Talking;
    }
    if (HasCode(line, protocol_->startTlsGoAhead)) {
        return Upgrade();
    }
    // A news server that does not know the command answers 500 or 502.
    const int code = ReplyCode(line);
    if (news_ && (code == 500 || code == 502)) {
        return Fail("server does not offer STARTTLS");
    }
    return Fail(refused + Quote(line));
}

StartTlsDialogue::Step StartTlsDialogue::Greeted(std::string_view line, std::string& toServer) {
    switch (protocol_->replies) {
        case ReplyStyle::Status:
            if (!StartsWithNoCase(line, protocol_->greeting)) {
                return Fail("server refused the connection: " + Quote(line));
            }
            greeting_.assign(line);
            AskForTls(toServer);
            return Step::Talking;
        case ReplyStyle::Tagged: {
            if (!StartsWithNoCase(line, protocol_->greeting)) {
                // PREAUTH allows no STARTTLS; BYE is a refusal.
                return Fail("server refused the connection: " + Quote(line));
            }
            bool listed = false;
            bool offers = false;
            greeting_ = ImapCapabilityFilter::WithoutCapabilityCode(line, listed, offers);
            if (listed && !offers) {
                return Fail("server does not offer STARTTLS");
            }
            AskForTls(toServer);
            return Step::Talking;
        }
        case ReplyStyle::Coded:
            break;
    }
    greeting_.append(line);
    if (IsContinuedReply(line)) {
        return Step::Talking;
    }
    if (GreetsAsNews(line)) {
        news_ = true;
        protocol_ = &DescriptorOf(ServerType::Smtp, true);
    } else if (!HasCode(line, protocol_->greeting)) {
        return Fail("server refused the connection: " + Quote(line));
    }
    if (protocol_->offersQuery.empty()) {
        AskForTls(toServer);
        return Step::Talking;
    }
    // The client says its own EHLO once TLS stands; this one only asks what is offered.
    toServer.append(protocol_->offersQuery).append("\r\n");
    state_ = State::Extensions;
    return Step::Talking;
}

void StartTlsDialogue::AskForTls(std::string& toServer) {
    if (protocol_->tagged) {
        toServer.append(kImapTag).append(" ");
    }
    toServer.append(protocol_->startTls).append("\r\n");
    state_ = State::Answer;
}

StartTlsDialogue::Step StartTlsDialogue::Fail(std::string reason) {
    state_ = State::Done;
    failure_ = std::move(reason);
    return Step::Failed;
}

StartTlsDialogue::Step StartTlsDialogue::Upgrade() {
    state_ = State::Done;
    return Step::Upgrade;
}

std::string StartTlsDialogue::TakeRest() {
    std::string rest = std::move(rest_);
    rest_.clear();
    return rest;
}

}  // namespace vantel
