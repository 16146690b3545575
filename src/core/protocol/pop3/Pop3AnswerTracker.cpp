#include "core/protocol/pop3/Pop3AnswerTracker.h"

namespace vantel {
namespace {

bool StartsWith(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

/// The line without its line end.
std::string_view Content(std::string_view line) {
    if (!line.empty() && line.back() == '\n') {
        line.remove_suffix(1);
    }
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

template <typename Ended>
void CutLines(std::string_view bytes, std::string& head, std::size_t keep, std::size_t* length,
              Ended ended) {
    while (!bytes.empty()) {
        const std::size_t lf = bytes.find('\n');
        const std::size_t end = lf == std::string_view::npos ? bytes.size() : lf + 1;
        const std::string_view piece = bytes.substr(0, end);
        if (head.size() < keep) {
            head.append(piece.substr(0, keep - head.size()));
        }
        if (length != nullptr) {
            *length += piece.size();
        }
        bytes.remove_prefix(end);
        if (lf != std::string_view::npos) {
            ended();
            head.clear();
            if (length != nullptr) {
                *length = 0;
            }
        }
    }
}

}  // namespace

void Pop3AnswerTracker::ClientSent(std::string_view bytes) {
    if (unseen_ && !bytes.empty()) {
        // The client speaks again: the answers it waited for are complete.
        unseen_ = false;
        pending_.clear();
        lines_ = Lines::None;
        exchange_ = false;
        serverHead_.clear();
        serverLength_ = 0;
    }
    CutLines(bytes, clientHead_, kHead, nullptr, [this] { ClientLineEnded(); });
}

void Pop3AnswerTracker::ClientLineEnded() {
    if (exchange_) {
        return;  // a response to AUTH's challenge
    }
    std::string word;
    std::size_t at = 0;
    for (; at < clientHead_.size() && clientHead_[at] != ' ' && clientHead_[at] != '\r' &&
           clientHead_[at] != '\n';
         ++at) {
        const char c = clientHead_[at];
        word += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    // Anything after the word counts as an argument, even where the head was cut short.
    const bool argument = at < clientHead_.size() && clientHead_[at] == ' ';
    Answer answer = Answer::Line;
    if (word == "RETR" || word == "TOP") {
        answer = Answer::Message;
    } else if (word == "CAPA" || ((word == "LIST" || word == "UIDL") && !argument)) {
        answer = Answer::Lines;
    } else if (word == "AUTH") {
        answer = argument ? Answer::Auth : Answer::Lines;
    }
    if (pending_.size() < kMaxPending) {
        pending_.push_back(answer);
    }
}

void Pop3AnswerTracker::ServerSent(std::string_view bytes) {
    if (unseen_) {
        return;  // where these bytes stand in their lines is not known
    }
    CutLines(bytes, serverHead_, kHead, &serverLength_, [this] { ServerLineEnded(); });
}

void Pop3AnswerTracker::ServerLineEnded() {
    const std::string_view line = serverHead_;
    if (lines_ != Lines::None) {
        if (serverLength_ <= 3 && Content(line) == ".") {
            lines_ = Lines::None;
        }
        return;
    }
    if (!greeted_) {
        greeted_ = true;  // the greeting answers nothing the client sent
        return;
    }
    if (pending_.empty()) {
        return;
    }
    const bool ok = StartsWith(line, "+OK");
    if (!ok && !StartsWith(line, "-ERR")) {
        if (pending_.front() == Answer::Auth && StartsWith(line, "+")) {
            exchange_ = true;  // a challenge: the client's next line responds to it
        }
        return;
    }
    const Answer answer = pending_.front();
    pending_.pop_front();
    exchange_ = false;
    if (ok && answer == Answer::Message) {
        lines_ = Lines::Message;
    } else if (ok && answer == Answer::Lines) {
        lines_ = Lines::Other;
    }
}

}  // namespace vantel
