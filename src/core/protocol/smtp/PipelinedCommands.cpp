#include "core/protocol/smtp/PipelinedCommands.h"

#include "core/config/AsciiText.h"
#include "core/protocol/LineEnds.h"

namespace vantel {

PipelinedCommands::PipelinedCommands(std::initializer_list<std::string_view> watched) {
    for (const std::string_view verb : watched) {
        if (watchedCount_ < watched_.size()) {
            watched_[watchedCount_++] = verb;
        }
    }
}

void PipelinedCommands::ClientSent(std::string_view text) {
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        const std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
        KeepFirst(head_, text.substr(0, end), kHead);
        lineLength_ += end;
        text.remove_prefix(end);
        if (lf != std::string_view::npos) {
            LineEnded();
        }
    }
}

void PipelinedCommands::LineEnded() {
    const std::string_view verb = std::string_view(head_).substr(0, head_.find_first_of(" \t\r\n"));
    int kind = kOther;
    for (std::size_t i = 0; i < watchedCount_; ++i) {
        if (EqualsNoCase(verb, watched_[i])) {
            kind = static_cast<int>(i);
            seen_[i] = true;
        }
    }
    if (lineLength_ > kMaxLine) {
        lost_ = true;
    }
    if (!EqualsNoCase(verb, "TAKETHIS")) {
        Push(kind);
    }
    head_.clear();
    lineLength_ = 0;
}

void PipelinedCommands::MessageEnded() {
    Push(kOther);
}

void PipelinedCommands::Push(int kind) {
    if (!lost_ && waiting_.size() - next_ >= kMaxWaiting) {
        lost_ = true;
    }
    if (lost_) {
        waiting_.clear();
        next_ = 0;
        counts_ = {};
        return;
    }
    waiting_.push_back(static_cast<std::int8_t>(kind));
    if (kind >= 0) {
        ++counts_[static_cast<std::size_t>(kind)];
    }
}

void PipelinedCommands::ReplyEnded() {
    if (next_ == waiting_.size()) {
        return;
    }
    const int kind = waiting_[next_++];
    if (next_ == waiting_.size()) {
        waiting_.clear();
        next_ = 0;
    } else if (next_ >= kMaxWaiting) {
        // Answered kinds are dropped in bulk, so a long pipeline costs no shift per reply.
        waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(next_));
        next_ = 0;
    }
    if (kind >= 0) {
        --counts_[static_cast<std::size_t>(kind)];
    }
}

int PipelinedCommands::Next() const {
    return lost_ || next_ == waiting_.size() ? kUnknown : waiting_[next_];
}

bool PipelinedCommands::Waiting(int index) const {
    return lost_ || counts_[static_cast<std::size_t>(index)] > 0;
}

}  // namespace vantel
