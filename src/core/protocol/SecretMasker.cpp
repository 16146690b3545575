#include "core/protocol/SecretMasker.h"

#include <algorithm>
#include <limits>

#include "core/protocol/LineEnds.h"

namespace vantel {
namespace {

char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

/// `word` is in capitals; `text` may be in any case.
bool StartsWithNoCase(std::string_view text, std::string_view word) {
    if (text.size() < word.size()) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (Upper(text[i]) != word[i]) {
            return false;
        }
    }
    return true;
}

bool EqualNoCase(std::string_view text, std::string_view word) {
    return text.size() == word.size() && StartsWithNoCase(text, word);
}

std::string_view WithoutCr(std::string_view text) {
    while (!text.empty() && text.back() == '\r') {
        text.remove_suffix(1);
    }
    return text;
}

/// A reply line carrying the three-digit `code`.
bool HasCode(std::string_view line, std::string_view code) {
    return line.substr(0, 3) == code && (line.size() == 3 || !IsDigit(line[3]));
}

/// Leading digits as a number; one too big for the type stays at its maximum.
std::uint64_t ParseCount(std::string_view digits) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (char c : digits) {
        if (!IsDigit(c)) {
            break;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
    }
    return value;
}

/// What servers take between words; a blank may also come before the command.
constexpr std::string_view kBlanks = " \t\v\f";

std::string_view WithoutLeadingBlanks(std::string_view head) {
    const std::size_t start = head.find_first_not_of(kBlanks);
    return start == std::string_view::npos ? std::string_view() : head.substr(start);
}

/// One word of a line start, and whether a blank ended it.
struct Word {
    std::string_view text;
    bool ended;
};

/// The word at `pos`; `pos` moves past it and the blanks after it.
Word NextWord(std::string_view head, std::size_t& pos) {
    const std::size_t blank = head.find_first_of(kBlanks, pos);
    const Word word{head.substr(pos, blank - pos), blank != std::string_view::npos};
    pos = word.ended ? head.find_first_not_of(kBlanks, blank) : head.size();
    if (pos == std::string_view::npos) {
        pos = head.size();
    }
    return word;
}

/// How a line start stands to one command.
enum class Fit {
    None,       ///< it is not this command
    Keyword,    ///< it may still become this command
    Arguments,  ///< it is this command; shown arguments still come
    Plain,      ///< it is this command, and no secret follows
    Secret,     ///< it is this command; what follows is its secret
};

/// How `head` stands to the command of `words` (in capitals) with `shown` arguments before
/// its secret (-1: none). `arguments`: the shown arguments are all there.
Fit FitOf(std::string_view head, std::string_view words, int shown, bool complete,
          bool& arguments) {
    std::size_t pos = 0;
    while (!words.empty()) {
        const std::size_t blank = words.find(' ');
        const std::string_view word = words.substr(0, blank);
        words = blank == std::string_view::npos ? std::string_view() : words.substr(blank + 1);
        const Word token = NextWord(head, pos);
        if (!token.ended) {
            if (!complete) {
                return token.text.size() <= word.size() &&
                               EqualNoCase(token.text, word.substr(0, token.text.size()))
                           ? Fit::Keyword
                           : Fit::None;
            }
            arguments = false;
            return words.empty() && EqualNoCase(token.text, word) ? Fit::Plain : Fit::None;
        }
        if (!EqualNoCase(token.text, word)) {
            return Fit::None;
        }
    }
    if (shown < 0) {
        return Fit::Plain;
    }
    for (int i = 0; i < shown; ++i) {
        const Word argument = NextWord(head, pos);
        if (!argument.ended) {
            arguments = !argument.text.empty();
            return complete ? Fit::Plain : Fit::Arguments;
        }
    }
    arguments = true;
    return Fit::Secret;
}

}  // namespace

SecretMasker::Reading SecretMasker::Read(std::string_view head, bool complete) const {
    head = WithoutLeadingBlanks(head);
    if (protocol_.tagged) {
        // Every command starts with its tag.
        std::size_t pos = 0;
        if (!NextWord(head, pos).ended) {
            Reading tagOnly;
            tagOnly.show = complete ? Show::Plain : Show::Undecided;
            return tagOnly;
        }
        head.remove_prefix(pos);
    }

    bool open = false;
    for (std::size_t i = 0; i < protocol_.maskedCount; ++i) {
        const MaskedCommand* command = &protocol_.masked[i];
        Reading reading;
        reading.command = command;
        switch (FitOf(head, command->words, command->shown, complete, reading.arguments)) {
            case Fit::None:
                continue;
            case Fit::Keyword:
                open = true;
                continue;
            case Fit::Arguments:
                reading.show = Show::Undecided;
                return reading;
            case Fit::Plain:
                reading.show = Show::Plain;
                return reading;
            case Fit::Secret:
                reading.show = Show::Secret;
                return reading;
        }
    }
    Reading none;
    none.show = open ? Show::Undecided : Show::Plain;
    return none;
}

void SecretMasker::ClientSent(Run run, std::string_view bytes) {
    if (exchange_ != nullptr) {
        // The SMTP framer follows SASL exchanges too, the IMAP one does not: whatever it took
        // a response for (a literal's announcement, say), the lines answer the challenges.
        run = Run::Command;
    }
    switch (run) {
        case Run::Text:
            // Message text: shown as it is, and lines start afresh after it.
            shown_.append(bytes);
            countedLeft_ -= std::min<std::uint64_t>(countedLeft_, bytes.size());
            lineStarted_ = false;
            inLiteral_ = false;
            return;
        case Run::Argument:
            TakeLiteral(bytes);
            return;
        case Run::Continued:
            if (!lineStarted_) {
                // The command goes on after its literal, as secret as it was.
                lineStarted_ = true;
                commandLine_ = false;
                if (!inLiteral_) {
                    maskShown_ = false;  // a literal of no bytes showed no mask
                }
                head_.clear();
                show_ = lastSecret_ ? Show::Secret : Show::Plain;
            }
            break;
        case Run::Command:
            break;
    }
    inLiteral_ = false;
    TakeLines(bytes);
}

std::string SecretMasker::TakeShown() {
    std::string shown;
    shown.swap(shown_);
    return shown;
}

void SecretMasker::TakeLines(std::string_view text) {
    while (!text.empty()) {
        if (countedLeft_ > 0) {
            // A chunk the framer left uncounted (as behind a blank), which a server may count
            // all the same: it is no command either.
            const auto n =
                static_cast<std::size_t>(std::min<std::uint64_t>(countedLeft_, text.size()));
            shown_.append(text.substr(0, n));
            countedLeft_ -= n;
            text.remove_prefix(n);
            continue;
        }
        if (!lineStarted_) {
            StartLine();
        }
        const std::size_t lf = text.find('\n');
        TakeContent(text.substr(0, lf));
        if (lf == std::string_view::npos) {
            break;
        }
        shown_.push_back('\n');
        text.remove_prefix(lf + 1);
        EndLine();
    }
}

void SecretMasker::TakeLiteral(std::string_view bytes) {
    if (!inLiteral_) {
        inLiteral_ = true;
        maskShown_ = false;
    }
    lineStarted_ = false;
    if (!lastSecret_) {
        shown_.append(bytes);
    } else if (!maskShown_) {
        shown_.append(kMask);
        maskShown_ = true;
    }
}

void SecretMasker::StartLine() {
    lineStarted_ = true;
    maskShown_ = false;
    head_.clear();
    commandLine_ = exchange_ == nullptr;
    // A line within a SASL exchange answers the server's challenge.
    show_ = exchange_ != nullptr ? Show::Secret : Show::Undecided;
}

void SecretMasker::TakeContent(std::string_view run) {
    while (!run.empty()) {
        switch (show_) {
            case Show::Plain:
                shown_.append(run);
                KeepFirst(head_, run, kMaxHead);
                return;
            case Show::Secret:
                for (char c : run) {
                    // A CR gives nothing away and keeps the trace's lines intact.
                    if (c == '\r') {
                        shown_.push_back(c);
                    } else if (!maskShown_) {
                        shown_.append(kMask);
                        maskShown_ = true;
                    }
                }
                return;
            case Show::Undecided: {
                // The command and its shown arguments: they show while they are read.
                const char c = run.front();
                run.remove_prefix(1);
                shown_.push_back(c);
                head_.push_back(c);
                const Reading reading = Read(head_, false);
                if (reading.show != Show::Undecided) {
                    show_ = reading.show;
                } else if (head_.size() >= kMaxHead) {
                    show_ = reading.command == nullptr ? Show::Plain : Show::Secret;
                }
                break;
            }
        }
    }
}

void SecretMasker::EndLine() {
    lineStarted_ = false;
    if (commandLine_) {
        EndCommandLine();
    }
    lastSecret_ = show_ == Show::Secret;
}

void SecretMasker::EndCommandLine() {
    const std::string_view head = WithoutLeadingBlanks(WithoutCr(head_));
    const Reading reading = Read(head, true);
    if (protocol_.tagged) {
        tag_.assign(head.substr(0, head.find_first_of(kBlanks)));
    }
    if (reading.command == nullptr) {
        return;
    }
    if (reading.command->exchange != nullptr && reading.arguments) {
        exchange_ = reading.command->exchange;
    }
    if (reading.command->kind == MaskedCommand::Kind::Counted) {
        std::size_t pos = 0;
        NextWord(head, pos);
        countedLeft_ = ParseCount(head.substr(pos));
    }
}

void SecretMasker::ServerReplied(std::string_view text) {
    if (exchange_ == nullptr) {
        // Nothing the server says matters now; where its current line started may, later.
        const std::size_t lf = text.rfind('\n');
        if (lf != std::string_view::npos) {
            serverHead_.clear();
            text.remove_prefix(lf + 1);
        }
        KeepFirst(serverHead_, text, kMaxHead);
        return;
    }
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        KeepFirst(serverHead_, text.substr(0, lf), kMaxHead);
        if (lf == std::string_view::npos) {
            return;
        }
        text.remove_prefix(lf + 1);
        ServerLine(WithoutCr(serverHead_));
        serverHead_.clear();
    }
}

bool SecretMasker::IsTagged(std::string_view line) const {
    return !tag_.empty() && line.size() > tag_.size() && line.compare(0, tag_.size(), tag_) == 0 &&
           line[tag_.size()] == ' ';
}

bool SecretMasker::ExchangeClosed(std::string_view line) const {
    switch (exchange_->close) {
        case SaslExchange::Close::OtherReply:
            return !line.empty() && !HasCode(line, exchange_->challenge.substr(0, 3));
        case SaslExchange::Close::Status:
            return StartsWithNoCase(line, exchange_->success) ||
                   StartsWithNoCase(line, exchange_->failure);
        case SaslExchange::Close::Tagged:
            return IsTagged(line);
    }
    return false;
}

void SecretMasker::ServerLine(std::string_view line) {
    if (exchange_ != nullptr && ExchangeClosed(line)) {
        exchange_ = nullptr;
    }
}

}  // namespace vantel
