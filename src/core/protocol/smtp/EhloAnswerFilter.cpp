#include "core/protocol/smtp/EhloAnswerFilter.h"

#include "core/config/AsciiText.h"
#include "core/protocol/LineEnds.h"
#include "core/protocol/smtp/ReplyCode.h"

namespace vantel {
namespace {

constexpr int kEhlo = 0;  ///< the index of EHLO among the commands followed

/// CHUNKING allows BDAT, and BINARYMIME needs BDAT.
constexpr std::string_view kRemoved[] = {"CHUNKING", "BINARYMIME"};

/// Bytes of a server line's start that tell its code and whether the reply goes on.
constexpr std::size_t kHead = 4;

bool Is250(std::string_view line) {
    return line.substr(0, 3) == "250";
}

/// A "250-" or "250 " line naming an extension the client must not see.
bool IsRemoved(std::string_view line, bool secured) {
    const std::string_view keyword = EhloKeyword(line);
    if (keyword.empty()) {
        return false;
    }
    for (const std::string_view removed : kRemoved) {
        if (EqualsNoCase(keyword, removed)) {
            return true;
        }
    }
    return secured && EqualsNoCase(keyword, "STARTTLS");
}

}  // namespace

bool EhloAnswerFilter::FiltersReply() const {
    // A session that never said EHLO (news) has no answer to filter. Otherwise an answer is
    // never let through on a count that may be off: while any EHLO waits, or when the count
    // is lost or runs short, the reply is read as one.
    if (!commands_.Seen(kEhlo)) {
        return false;
    }
    const int next = commands_.Next();
    return next == kEhlo || next == PipelinedCommands::kUnknown || commands_.Waiting(kEhlo);
}

std::string_view EhloAnswerFilter::Filter(std::string_view text) {
    // Until a line is held, the text passes as it is, uncopied.
    PassThrough out(text, output_);
    while (!text.empty()) {
        if (firstLine_ && head_.empty() && lineMode_ == LineMode::Undecided) {
            filtering_ = FiltersReply();
        }
        const std::size_t lf = text.find('\n');
        const bool complete = lf != std::string_view::npos;
        const std::string_view piece = text.substr(0, complete ? lf + 1 : text.size());
        KeepFirst(head_, piece, kHead);
        if (lineMode_ == LineMode::Undecided) {
            // Only a 250 line can be removed or become the last: others go as they come.
            if (!filtering_) {
                lineMode_ = LineMode::Passing;
            } else if (head_.size() >= 3 || complete) {
                lineMode_ = Is250(head_) ? LineMode::Held : LineMode::Passing;
            }
            if (lineMode_ == LineMode::Passing && !(held_.empty() && partial_.empty())) {
                out.Copy(text);
                output_.append(held_).append(partial_);
                held_.clear();
                partial_.clear();
            }
        }
        if (lineMode_ == LineMode::Passing) {
            out.Pass(piece);
        } else {
            out.Copy(text);
            partial_.append(piece);
            if (!complete && partial_.size() > kMaxLine) {
                // Not an answer worth holding for: it passes as it is.
                output_.append(held_).append(partial_);
                held_.clear();
                partial_.clear();
                lineMode_ = LineMode::Passing;
            }
        }
        text.remove_prefix(piece.size());
        if (complete) {
            LineEnded();
        }
    }
    return out.result();
}

void EhloAnswerFilter::LineEnded() {
    if (lineMode_ == LineMode::Held) {
        const std::string line = std::move(partial_);
        partial_.clear();
        AnswerLine(line);
    }
    firstLine_ = !IsContinuedReply(head_);
    if (firstLine_) {
        commands_.ReplyEnded();
    }
    head_.clear();
    lineMode_ = LineMode::Undecided;
}

void EhloAnswerFilter::AnswerLine(std::string_view line) {
    // The first line names the server, whatever its name is.
    if (!firstLine_ && IsRemoved(line, secured_)) {
        if (IsContinuedReply(line)) {
            return;
        }
        if (!held_.empty()) {
            held_[3] = ' ';  // the line before takes the removed line's place as the last
            output_.append(held_);
            held_.clear();
            return;
        }
        // Nothing could take its place: dropping it would leave the answer without an end.
    }
    Pass(line);
}

void EhloAnswerFilter::Pass(std::string_view line) {
    output_.append(held_);
    held_.clear();
    if (IsContinuedReply(line)) {
        held_.assign(line);
    } else {
        output_.append(line);
    }
}

std::string EhloAnswerFilter::Flush() {
    std::string rest = std::move(held_);
    rest.append(partial_);
    held_.clear();
    partial_.clear();
    head_.clear();
    lineMode_ = LineMode::Undecided;
    firstLine_ = true;
    return rest;
}

}  // namespace vantel
