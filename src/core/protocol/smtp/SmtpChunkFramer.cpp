#include "core/protocol/smtp/SmtpChunkFramer.h"

#include <limits>

#include "core/config/AsciiText.h"

namespace vantel {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

void SkipBlanks(std::string_view text, std::size_t& at) {
    while (at < text.size() && IsBlank(text[at])) {
        ++at;
    }
}

/// "BDAT <size> [LAST]" in any letter case. A size beyond 64 bits does not parse: such a line
/// is no chunk command.
bool ParseBdat(std::string_view line, std::uint64_t& size) {
    if (line.size() < 6 || !EqualsNoCase(line.substr(0, 4), "BDAT") || !IsBlank(line[4])) {
        return false;
    }
    std::size_t at = 4;
    SkipBlanks(line, at);
    const std::size_t digits = at;
    std::uint64_t value = 0;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at) {
        const auto digit = static_cast<std::uint64_t>(line[at] - '0');
        if (value > (kMax - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    if (at == digits) {
        return false;
    }
    const std::size_t sizeEnd = at;
    SkipBlanks(line, at);
    if (at < line.size()) {
        if (at == sizeEnd || !EqualsNoCase(line.substr(at, 4), "LAST")) {
            return false;
        }
        at += 4;
        SkipBlanks(line, at);
        if (at != line.size()) {
            return false;
        }
    }
    size = value;
    return true;
}

/// The first word of a command line.
std::string_view Verb(std::string_view line) {
    std::size_t end = 0;
    while (end < line.size() && !IsBlank(line[end])) {
        ++end;
    }
    return line.substr(0, end);
}

/// DATA, and news' POST and IHAVE: text follows once the server gives the code returned
/// (empty for any other command). Only that code: another 3xx is the answer to some other
/// command (a SASL challenge, say), and taking it for the go-ahead would read the client's
/// next commands as message text.
std::string_view GoAheadFor(std::string_view line) {
    const std::string_view verb = Verb(line);
    if (EqualsNoCase(verb, "DATA")) {
        return "354";
    }
    if (EqualsNoCase(verb, "POST")) {
        return "340";
    }
    return EqualsNoCase(verb, "IHAVE") ? "335" : std::string_view();
}

/// The code of the challenges of the SASL exchange `line` starts (AUTH; news' AUTHINFO SASL),
/// or empty.
std::string_view ChallengeFor(std::string_view line) {
    const std::string_view verb = Verb(line);
    if (EqualsNoCase(verb, "AUTH")) {
        return "334";
    }
    if (!EqualsNoCase(verb, "AUTHINFO")) {
        return {};
    }
    std::string_view rest = line.substr(verb.size());
    while (!rest.empty() && IsBlank(rest.front())) {
        rest.remove_prefix(1);
    }
    return EqualsNoCase(Verb(rest), "SASL") ? "383" : std::string_view();
}

/// News' TAKETHIS: the article follows at once.
bool StartsArticle(std::string_view line) {
    return EqualsNoCase(Verb(line), "TAKETHIS");
}

}  // namespace

std::size_t SmtpChunkFramer::Next(std::string_view text, bool& chunk) {
    chunk = mode_ == Mode::Chunk;
    if (chunk) {
        const std::size_t n =
            chunkLeft_ < text.size() ? static_cast<std::size_t>(chunkLeft_) : text.size();
        chunkLeft_ -= n;
        if (chunkLeft_ == 0) {
            mode_ = Mode::Commands;
        }
        return n;
    }
    std::size_t at = 0;
    while (at < text.size()) {
        if (mode_ == Mode::Message) {
            at = SkipMessageText(text, at);
            if (at == text.size()) {
                break;
            }
        }
        const std::size_t lf = text.find('\n', at);
        const std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
        const bool lineEnds =
            lf != std::string_view::npos && (lf > at ? text[lf - 1] == '\r' : crLast_);
        Keep(text.substr(at, end - at));
        crLast_ = text[end - 1] == '\r';
        at = end;
        const bool wasMessage = mode_ == Mode::Message;
        if (lineEnds && LineEnded()) {
            break;  // the chunk's bytes start here
        }
        if (wasMessage != (mode_ == Mode::Message)) {
            break;  // a message starts or ends: it comes as a piece of its own
        }
    }
    return at;
}

std::size_t SmtpChunkFramer::SkipMessageText(std::string_view text, std::size_t at) {
    // A line kept from before may be the start of the "." line: it is read line by line.
    if (!line_.empty() && !lineTooLong_) {
        return at;
    }
    // Lines that end before the first dot cannot be the "." line.
    const std::size_t dot = text.find('.', at);
    const std::size_t limit = dot == std::string_view::npos ? text.size() : dot;
    if (limit == at) {
        return at;
    }
    const std::size_t lf = text.rfind('\n', limit - 1);
    if (lf == std::string_view::npos || lf < at) {
        return at;
    }
    const bool lineEnds = lf > at ? text[lf - 1] == '\r' : crLast_;
    if (!lineEnds) {
        return at;  // a bare LF does not end a line: read line by line
    }
    // As LineEnded leaves a message line that is not ".".
    line_.clear();
    lineTooLong_ = false;
    crLast_ = false;
    return lf + 1;
}

void SmtpChunkFramer::Keep(std::string_view piece) {
    if (lineTooLong_) {
        return;
    }
    // In a message only its "." line matters: longer lines need not be kept.
    const std::size_t limit = mode_ == Mode::Message ? 3 : kMaxCommandLine;
    if (line_.size() + piece.size() > limit) {
        lineTooLong_ = true;
        line_.clear();
        return;
    }
    line_.append(piece);
}

bool SmtpChunkFramer::LineEnded() {
    const bool examined = !lineTooLong_;
    // Without the CR LF; a long line is plain text whatever it starts with.
    const std::string_view line =
        examined ? std::string_view(line_).substr(0, line_.size() - 2) : std::string_view();
    bool chunkFollows = false;
    if (mode_ == Mode::Message) {
        if (examined && line == ".") {
            mode_ = Mode::Commands;
        }
    } else if (mode_ == Mode::Sasl) {
        // A response to a challenge; the server's reply ends the exchange.
    } else if (std::uint64_t size = 0; examined && ParseBdat(line, size)) {
        chunkLeft_ = size;
        chunkFollows = size > 0;
        mode_ = chunkFollows ? Mode::Chunk : Mode::Commands;
    } else if (const std::string_view goAhead = GoAheadFor(line); !goAhead.empty()) {
        mode_ = Mode::DataAnswer;
        awaited_ = goAhead;
    } else if (const std::string_view challenge = ChallengeFor(line); !challenge.empty()) {
        mode_ = Mode::Sasl;
        awaited_ = challenge;
    } else if (examined && StartsArticle(line)) {
        mode_ = Mode::Message;
    } else {
        // Another command after DATA: the server turned DATA down, no message comes.
        mode_ = Mode::Commands;
    }
    line_.clear();
    lineTooLong_ = false;
    return chunkFollows;
}

void SmtpChunkFramer::ServerSent(std::string_view text) {
    // While DATA waits for its go-ahead, or a SASL exchange for the server's next word, each
    // line's code counts: replies to commands sent before DATA may come first, and a code may
    // come in pieces.
    while ((mode_ == Mode::DataAnswer || mode_ == Mode::Sasl) && !text.empty()) {
        const std::size_t lf = text.find('\n');
        KeepServerHead(text.substr(0, lf));
        ServerLineCode(lf != std::string_view::npos);
        if (lf == std::string_view::npos) {
            return;
        }
        serverHead_.clear();
        text.remove_prefix(lf + 1);
    }
    // Otherwise only the start of the last line counts, for a DATA sent while it comes.
    const std::size_t lf = text.rfind('\n');
    if (lf != std::string_view::npos) {
        serverHead_.clear();
        text.remove_prefix(lf + 1);
    }
    KeepServerHead(text);
}

void SmtpChunkFramer::ServerLineCode(bool lineEnded) {
    if (serverHead_.size() < kCodeLength && !lineEnded) {
        return;  // the code is still to come
    }
    if (mode_ == Mode::DataAnswer && serverHead_ == awaited_) {
        mode_ = Mode::Message;
    } else if (mode_ == Mode::Sasl && serverHead_ != awaited_) {
        mode_ = Mode::Commands;  // the exchange's outcome (or a refusal): commands again
    }
}

void SmtpChunkFramer::KeepServerHead(std::string_view piece) {
    if (serverHead_.size() < kCodeLength) {
        serverHead_.append(piece.substr(0, kCodeLength - serverHead_.size()));
    }
}

}  // namespace vantel
