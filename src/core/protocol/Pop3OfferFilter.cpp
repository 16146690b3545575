#include "core/protocol/Pop3OfferFilter.h"

#include <algorithm>

#include "core/rewrite/AsciiText.h"

namespace vantel {
namespace {

/// Bytes of a line's start kept to read its command or capability.
constexpr std::size_t kHead = 16;

/// The first word of a line; `rest` gets what follows it.
std::string_view FirstWord(std::string_view line, std::string_view& rest) {
    const std::size_t end = std::min(line.find_first_of(" \r\n"), line.size());
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
    matches = after == ' ' || after == '\r' || after == '\n';
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

void Pop3OfferFilter::FromClient(std::string_view block, std::string& toServer,
                                 std::string& toClient) {
    while (!block.empty()) {
        const std::size_t lf = block.find('\n');
        const std::size_t end = lf == std::string_view::npos ? block.size() : lf + 1;
        const std::string_view piece = block.substr(0, end);
        block.remove_prefix(end);
        if (clientHead_.size() < kHead) {
            clientHead_.append(piece.substr(0, kHead - clientHead_.size()));
        }
        if (clientKeep_ == Keep::Hold) {
            bool auth = false;
            bool apop = false;
            const bool decided =
                Decided(clientHead_, "AUTH", auth) && Decided(clientHead_, "APOP", apop);
            if (auth || apop) {
                clientKeep_ = Keep::Drop;
                clientHeld_.clear();
            } else if (decided || lf != std::string_view::npos) {
                clientKeep_ = Keep::Pass;
                toServer.append(clientHeld_);
                clientHeld_.clear();
            }
        }
        switch (clientKeep_) {
            case Keep::Pass:
                toServer.append(piece);
                break;
            case Keep::Hold:
                clientHeld_.append(piece);
                break;
            case Keep::Drop:
                break;
        }
        if (lf != std::string_view::npos) {
            ClientLineEnded(toClient);
        }
    }
}

void Pop3OfferFilter::ClientLineEnded(std::string& toClient) {
    std::string_view arguments;
    const std::string_view command = FirstWord(clientHead_, arguments);
    const bool hasArguments = arguments.find_first_not_of(" \r\n") != std::string_view::npos;
    if (clientKeep_ == Keep::Drop) {
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
    clientHead_.clear();
    clientKeep_ = Keep::Hold;
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
        return serverHeld_.size() > kMaxGreeting ? Keep::Pass : Keep::Hold;
    }
    if (answers_.front() != Answer::Capabilities || !answerBody_) {
        return Keep::Pass;
    }
    bool sasl = false;
    if (!Decided(serverHead_, "SASL", sasl)) {
        return Keep::Hold;
    }
    return sasl ? Keep::Drop : Keep::Pass;
}

void Pop3OfferFilter::FromServer(std::string_view block, std::string& toClient) {
    while (!block.empty()) {
        const std::size_t lf = block.find('\n');
        const std::size_t end = lf == std::string_view::npos ? block.size() : lf + 1;
        const std::string_view piece = block.substr(0, end);
        block.remove_prefix(end);
        if (serverHead_.size() < kHead) {
            serverHead_.append(piece.substr(0, kHead - serverHead_.size()));
        }
        if (serverKeep_ == Keep::Hold) {
            serverKeep_ = ServerLineKeep();
            if (serverKeep_ == Keep::Pass) {
                toClient.append(serverHeld_);
                serverHeld_.clear();
            } else if (serverKeep_ == Keep::Drop) {
                serverHeld_.clear();
            }
        }
        switch (serverKeep_) {
            case Keep::Pass:
                toClient.append(piece);
                break;
            case Keep::Hold:
                serverHeld_.append(piece);
                break;
            case Keep::Drop:
                break;
        }
        if (lf != std::string_view::npos) {
            ServerLineEnded(toClient);
        }
    }
}

void Pop3OfferFilter::ServerLineEnded(std::string& toClient) {
    if (serverKeep_ == Keep::Hold) {
        const bool greeting = !answers_.empty() && answers_.front() == Answer::Greeting;
        toClient.append(greeting ? WithoutTimestamp(serverHeld_) : serverHeld_);
        serverHeld_.clear();
    }
    const std::string head = std::move(serverHead_);
    serverHead_.clear();
    serverKeep_ = Keep::Hold;
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

std::string Pop3OfferFilter::FlushClient() {
    std::string held = std::move(clientHeld_);
    clientHeld_.clear();
    clientHead_.clear();
    clientKeep_ = Keep::Hold;
    return held;
}

std::string Pop3OfferFilter::FlushServer() {
    std::string held = std::move(serverHeld_);
    serverHeld_.clear();
    serverHead_.clear();
    serverKeep_ = Keep::Hold;
    return held;
}

}  // namespace vantel
