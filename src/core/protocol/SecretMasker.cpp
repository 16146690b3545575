#include "core/protocol/SecretMasker.h"

#include <algorithm>
#include <limits>

#include "core/protocol/LineEnds.h"

namespace vantel {
namespace {

/// Room for an IMAP literal's announcement: "{", a count of twenty digits, "+}", a CR.
constexpr std::size_t kMaxTail = 32;

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

std::string SecretMasker::MaskClientText(std::string_view text) {
    std::string shown;
    shown.reserve(text.size() + kMask.size());
    while (!text.empty()) {
        if (rawLeft_ > 0) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(rawLeft_, text.size()));
            if (!rawSecret_) {
                shown.append(text.substr(0, n));
            } else if (!maskShown_) {
                shown.append(kMask);
                maskShown_ = true;
            }
            literalAwaited_ = false;  // the literal is coming: the server took it
            rawLeft_ -= n;
            text.remove_prefix(n);
            continue;
        }
        if (!lineStarted_) {
            StartLine();
        }
        const std::size_t lf = text.find('\n');
        TakeContent(text.substr(0, lf), shown);
        if (lf == std::string_view::npos) {
            break;
        }
        shown.push_back('\n');
        text.remove_prefix(lf + 1);
        EndLine();
    }
    return shown;
}

void SecretMasker::StartLine() {
    lineStarted_ = true;
    continuation_ = false;
    maskShown_ = false;
    head_.clear();
    tail_.clear();
    commandLine_ = !body_ && exchange_ == nullptr;
    if (body_) {
        show_ = Show::Plain;
    } else if (exchange_ != nullptr) {
        show_ = Show::Secret;  // a response to the server's challenge
    } else {
        show_ = Show::Undecided;
        goAhead_ = {};  // a new command: the server did not take the message text
    }
}

void SecretMasker::TakeContent(std::string_view run, std::string& shown) {
    while (!run.empty()) {
        switch (show_) {
            case Show::Plain:
                shown.append(run);
                KeepFirst(head_, run, kMaxHead);
                KeepLast(tail_, run, kMaxTail);
                return;
            case Show::Secret:
                for (char c : run) {
                    // A CR gives nothing away and keeps the trace's lines intact.
                    if (c == '\r') {
                        shown.push_back(c);
                    } else if (!maskShown_) {
                        shown.append(kMask);
                        maskShown_ = true;
                    }
                }
                KeepLast(tail_, run, kMaxTail);
                return;
            case Show::Undecided: {
                // The command and its shown arguments: they show while they are read.
                const char c = run.front();
                run.remove_prefix(1);
                shown.push_back(c);
                head_.push_back(c);
                KeepLast(tail_, std::string_view(&c, 1), kMaxTail);
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
    const std::string_view head = WithoutCr(head_);
    if (body_) {
        if (head == ".") {
            body_ = false;
        }
        return;
    }
    if (commandLine_) {
        EndCommandLine();
    }
    if (protocol_.tagged && (commandLine_ || continuation_)) {
        StartLiteral();
    }
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
    using Kind = MaskedCommand::Kind;
    switch (reading.command->kind) {
        case Kind::TextAfterReply:
            goAhead_ = reading.command->goAhead;
            break;
        case Kind::TextAtOnce:
            body_ = true;
            break;
        case Kind::Counted: {
            std::size_t pos = 0;
            NextWord(head, pos);
            rawLeft_ = ParseCount(head.substr(pos));
            rawSecret_ = false;
            break;
        }
        case Kind::Secret:
            break;
    }
}

void SecretMasker::StartLiteral() {
    // "{<count>}" announces a literal the client sends once the server says "+",
    // "{<count>+}" one it sends at once.
    std::string_view tail = WithoutCr(tail_);
    if (tail.empty() || tail.back() != '}') {
        return;
    }
    tail.remove_suffix(1);
    const bool awaited = tail.empty() || tail.back() != '+';
    if (!awaited) {
        tail.remove_suffix(1);
    }
    const std::size_t open = tail.rfind('{');
    const std::string_view digits =
        open == std::string_view::npos ? std::string_view() : tail.substr(open + 1);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), IsDigit)) {
        return;
    }
    rawLeft_ = ParseCount(digits);
    rawSecret_ = show_ == Show::Secret;
    literalAwaited_ = awaited && rawLeft_ > 0;
    // The command goes on after the literal, as secret as it was.
    lineStarted_ = true;
    continuation_ = true;
    commandLine_ = false;
    maskShown_ = false;
    head_.clear();
    tail_.clear();
    show_ = rawSecret_ ? Show::Secret : Show::Plain;
}

bool SecretMasker::ListensToServer() const {
    return exchange_ != nullptr || !goAhead_.empty() || literalAwaited_;
}

void SecretMasker::ServerReplied(std::string_view text) {
    if (!ListensToServer()) {
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
    if (literalAwaited_) {
        if (!line.empty() && line.front() == '+') {
            literalAwaited_ = false;
        } else if (IsTagged(line)) {
            // Refused: the literal never comes, the client's next line is a new command.
            literalAwaited_ = false;
            rawLeft_ = 0;
            lineStarted_ = false;
            continuation_ = false;
        }
    }
    if (exchange_ != nullptr && ExchangeClosed(line)) {
        exchange_ = nullptr;
    }
    if (!goAhead_.empty() && HasCode(line, goAhead_)) {
        body_ = true;
        goAhead_ = {};
    }
}

}  // namespace vantel
