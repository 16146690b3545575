#include "core/protocol/pop3/Pop3OfferFilter.h"

#include <algorithm>

#include "core/config/AsciiText.h"
#include "core/protocol/LineEnds.h"

namespace vantel {
namespace {

/// Bytes of a line's start kept to read its command or capability.
constexpr std::size_t kHead = 16;
/// What ends a line's first word. A NUL too: a server reading C strings stops there.
constexpr std::string_view kWordEnds(" \t\r\n\0", 5);

/// The first word of a line; `rest` gets what follows it.
std::string_view FirstWord(std::string_view line, std::string_view& rest) {
    const std::size_t end = std::min(line.find_first_of(kWordEnds), line.size());
    rest = line.substr(end);
    return line.substr(0, end);
}

/// Whether `head`, the start of a line, is `word` (in capitals) followed by a blank or the
/// line end: Hold while it is too short to tell.
bool Decided(std::string_view head, std::string_view word, bool& matches) {
    const std::size_t n = std::min(head.size(), word.size());
    if (!EqualsNoCase(head.substr(0, n), word.substr(0, n))) {
        matches = false;
        return true;
    }
    if (head.size() <= word.size()) {
        return false;
    }
    const char after = head[word.size()];
    matches = kWordEnds.find(after) != std::string_view::npos;
    return true;
}

/// The greeting without its APOP time stamp "<...@...>" and the blank before it.
std::string WithoutTimestamp(std::string_view line) {
    const std::size_t open = line.find('<');
    const std::size_t close = open == std::string_view::npos ? open : line.find('>', open);
    if (close == std::string_view::npos ||
        line.substr(open, close - open).find('@') == std::string_view::npos) {
        return std::string(line);
    }
    const std::size_t from = open > 0 && line[open - 1] == ' ' ? open - 1 : open;
    return std::string(line.substr(0, from)).append(line.substr(close + 1));
}

}  // namespace

template <typename Decide, typename Ended>
void Pop3OfferFilter::Feed(std::string_view block, Line& line, std::string& out, Decide decide,
                           Ended ended) {
    while (!block.empty()) {
        const std::size_t lf = block.find('\n');
        const std::size_t end = lf == std::string_view::npos ? block.size() : lf + 1;
        const std::string_view piece = block.substr(0, end);
        block.remove_prefix(end);
        KeepFirst(line.head, piece, kHead);
        if (line.keep == Keep::Hold) {
            line.keep = decide(lf != std::string_view::npos);
            if (line.keep == Keep::Pass) {
                out.append(line.held);
            }
            if (line.keep != Keep::Hold) {
                line.held.clear();
            }
        }
        switch (line.keep) {
            case Keep::Pass:
                out.append(piece);
                break;
            case Keep::Hold:
                line.held.append(piece);
                break;
            case Keep::Drop:
                break;
        }
        if (lf != std::string_view::npos) {
            ended();
        }
    }
}

void Pop3OfferFilter::FromClient(std::string_view block, std::string& toServer,
                                 std::string& toClient) {
    Feed(
        block, client_, toServer, [this](bool complete) { return ClientLineKeep(complete); },
        [&] { ClientLineEnded(toClient); });
}

Pop3OfferFilter::Keep Pop3OfferFilter::ClientLineKeep(bool complete) const {
    if (!storedLogin_) {
        return Keep::Pass;
    }
    bool auth = false;
    bool apop = false;
    const bool decided = Decided(client_.head, "AUTH", auth) && Decided(client_.head, "APOP", apop);
    if (auth || apop) {
        return Keep::Drop;
    }
    return decided || complete ? Keep::Pass : Keep::Hold;
}

void Pop3OfferFilter::ClientLineEnded(std::string& toClient) {
    std::string_view arguments;
    const std::string_view command = FirstWord(client_.head, arguments);
    const bool hasArguments = arguments.find_first_not_of(" \r\n") != std::string_view::npos;
    if (client_.keep == Keep::Drop) {
        answers_.push_back(Answer::Refusal);
    } else if (EqualsNoCase(command, "CAPA")) {
        answers_.push_back(Answer::Capabilities);
    } else if (EqualsNoCase(command, "RETR") || EqualsNoCase(command, "TOP") ||
               ((EqualsNoCase(command, "LIST") || EqualsNoCase(command, "UIDL")) &&
                !hasArguments)) {
        answers_.push_back(Answer::Lines);
    } else {
        answers_.push_back(Answer::Line);
    }
    client_.head.clear();
    client_.keep = Keep::Hold;
    AnswerDue(toClient);
}

void Pop3OfferFilter::AnswerDue(std::string& toClient) {
    while (!answers_.empty() && answers_.front() == Answer::Refusal) {
        toClient.append(kRefusalText);
        answers_.pop_front();
    }
}

Pop3OfferFilter::Keep Pop3OfferFilter::ServerLineKeep() const {
    if (answers_.empty()) {
        return Keep::Pass;  // nothing was asked: no answer to filter
    }
    if (answers_.front() == Answer::Greeting) {
        return server_.held.size() > kMaxGreeting ? Keep::Pass : Keep::Hold;
    }
    if (answers_.front() != Answer::Capabilities || !answerBody_) {
        return Keep::Pass;
    }
    bool sasl = false;
    bool stls = false;
    if (!Decided(server_.head, "SASL", sasl) || !Decided(server_.head, "STLS", stls)) {
        return Keep::Hold;
    }
    return (sasl && storedLogin_) || (stls && secured_) ? Keep::Drop : Keep::Pass;
}

void Pop3OfferFilter::FromServer(std::string_view block, std::string& toClient) {
    while (!block.empty()) {
        // In a retrieved message (or a listing) only the "." line matters: the lines before
        // the next one that starts with a dot pass in one piece.
        const bool passing = answerBody_ && !answers_.empty() && answers_.front() == Answer::Lines;
        if (passing && server_.head.empty() && block.front() != '.') {
            std::size_t dot = block.find('.');
            while (dot != std::string_view::npos && block[dot - 1] != '\n') {
                dot = block.find('.', dot + 1);
            }
            const std::size_t lastLf = block.rfind('\n');
            const std::size_t lines = dot != std::string_view::npos      ? dot
                                      : lastLf != std::string_view::npos ? lastLf + 1
                                                                         : 0;
            if (lines > 0) {
                toClient.append(block.substr(0, lines));
                block.remove_prefix(lines);
                continue;
            }
        }
        const std::size_t lf = block.find('\n');
        const std::size_t end = lf == std::string_view::npos ? block.size() : lf + 1;
        Feed(
            block.substr(0, end), server_, toClient, [this](bool) { return ServerLineKeep(); },
            [&] { ServerLineEnded(toClient); });
        block.remove_prefix(end);
    }
}

void Pop3OfferFilter::ServerLineEnded(std::string& toClient) {
    if (server_.keep == Keep::Hold) {
        const bool greeting = !answers_.empty() && answers_.front() == Answer::Greeting;
        toClient.append(greeting && storedLogin_ ? WithoutTimestamp(server_.held) : server_.held);
        server_.held.clear();
    }
    const std::string head = std::move(server_.head);
    server_.head.clear();
    server_.keep = Keep::Hold;
    if (answers_.empty()) {
        return;
    }
    if (answerBody_) {
        if (head == ".\r\n" || head == ".\n") {
            answerBody_ = false;
            answers_.pop_front();
        }
    } else {
        const Answer answer = answers_.front();
        const bool lines = answer == Answer::Lines || answer == Answer::Capabilities;
        if (lines && head.size() >= 3 && EqualsNoCase(head.substr(0, 3), "+OK")) {
            answerBody_ = true;
        } else {
            answers_.pop_front();
        }
    }
    if (!answerBody_) {
        AnswerDue(toClient);
    }
}

std::string Pop3OfferFilter::Take(Line& line) {
    std::string held = std::move(line.held);
    line = Line{};
    return held;
}

std::string Pop3OfferFilter::FlushClient() {
    // The end of the stream ends the line: AUTH or APOP alone goes no further than with its
    // line end.
    if (storedLogin_ &&
        (EqualsNoCase(client_.held, "AUTH") || EqualsNoCase(client_.held, "APOP"))) {
        client_ = Line{};
        return {};
    }
    return Take(client_);
}

std::string Pop3OfferFilter::FlushServer() {
    return Take(server_);
}

}  // namespace vantel
