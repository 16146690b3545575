#include "core/protocol/EhloAnswerFilter.h"

#include "core/rewrite/AsciiText.h"

namespace vantel {
namespace {

constexpr std::string_view kEhlo = "EHLO";
/// `clientMatch_` once the client's line can no longer be an EHLO.
constexpr std::size_t kNoMatch = kEhlo.size() + 1;

/// CHUNKING allows BDAT, and BINARYMIME needs BDAT.
constexpr std::string_view kRemoved[] = {"CHUNKING", "BINARYMIME"};

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool HasCode(std::string_view line) {
    return line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]);
}

/// "ddd-": more lines of the same reply follow.
bool IsContinued(std::string_view line) {
    return HasCode(line) && line.size() > 3 && line[3] == '-';
}

bool Is250(std::string_view line) {
    return line.substr(0, 3) == "250";
}

/// A "250-" or "250 " line naming, as its first word, an extension the client must not see.
bool IsRemoved(std::string_view line, bool secured) {
    if (!Is250(line) || line.size() < 5 || (line[3] != '-' && line[3] != ' ')) {
        return false;
    }
    const std::string_view rest = line.substr(4);
    const std::string_view keyword = rest.substr(0, rest.find_first_of(" \t\r\n"));
    for (const std::string_view removed : kRemoved) {
        if (EqualsNoCase(keyword, removed)) {
            return true;
        }
    }
    return secured && EqualsNoCase(keyword, "STARTTLS");
}

}  // namespace

void EhloAnswerFilter::ClientSent(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        if (clientMatch_ == kNoMatch) {
            const std::size_t lf = text.find('\n', at);
            if (lf == std::string_view::npos) {
                return;
            }
            clientMatch_ = 0;
            at = lf + 1;
            continue;
        }
        const char c = text[at++];
        if (clientMatch_ < kEhlo.size() && AsciiUpper(c) == kEhlo[clientMatch_]) {
            ++clientMatch_;
            continue;
        }
        if (clientMatch_ == kEhlo.size() && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
            if (!answerDue_) {
                answerDue_ = true;
                firstLine_ = true;
            }
        }
        clientMatch_ = c == '\n' ? 0 : kNoMatch;
    }
}

std::string_view EhloAnswerFilter::Filter(std::string_view text) {
    if (!answerDue_ && held_.empty() && partial_.empty()) {
        return text;
    }
    output_.clear();
    std::size_t at = 0;
    while (at < text.size()) {
        if (!answerDue_) {
            output_.append(text.substr(at));
            break;
        }
        const std::size_t lf = text.find('\n', at);
        if (lf == std::string_view::npos) {
            partial_.append(text.substr(at));
            if (partial_.size() > kMaxLine) {
                // Not an answer worth holding for: it passes as it is.
                output_.append(held_).append(partial_);
                held_.clear();
                partial_.clear();
                AnswerEnded();
            }
            break;
        }
        const std::string_view piece = text.substr(at, lf + 1 - at);
        at = lf + 1;
        if (partial_.empty()) {
            AnswerLine(piece);
        } else {
            partial_.append(piece);
            const std::string line = std::move(partial_);
            partial_.clear();
            AnswerLine(line);
        }
    }
    return output_;
}

void EhloAnswerFilter::AnswerLine(std::string_view line) {
    const bool first = firstLine_;
    firstLine_ = false;
    // The first line names the server, whatever its name is.
    if (!first && IsRemoved(line, secured_)) {
        if (IsContinued(line)) {
            return;
        }
        if (!held_.empty()) {
            held_[3] = ' ';  // the line before takes the removed line's place as the last
            output_.append(held_);
            held_.clear();
            AnswerEnded();
            return;
        }
        // Nothing could take its place: dropping it would leave the answer without an end.
    }
    Pass(line);
}

void EhloAnswerFilter::Pass(std::string_view line) {
    output_.append(held_);
    held_.clear();
    if (Is250(line) && IsContinued(line)) {
        held_.assign(line);
    } else {
        output_.append(line);
    }
    if (!IsContinued(line)) {
        AnswerEnded();
    }
}

void EhloAnswerFilter::AnswerEnded() {
    answerDue_ = false;
    firstLine_ = true;
}

std::string EhloAnswerFilter::Flush() {
    std::string rest = std::move(held_);
    rest.append(partial_);
    held_.clear();
    partial_.clear();
    AnswerEnded();
    return rest;
}

}  // namespace vantel
