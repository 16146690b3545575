#include "core/protocol/pop3/Pop3LoginSwap.h"

#include <algorithm>

#include "core/config/CredentialCodec.h"
#include "core/rewrite/LineSplitter.h"

namespace vantel {
namespace {

constexpr std::string_view kBlankLine = "\r\n";

/// POP3 commands are case-insensitive; `command` is given in capitals.
bool StartsWithCommand(std::string_view line, std::string_view command) {
    if (line.size() < command.size()) {
        return false;
    }
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char c = line[i];
        const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        if (upper != command[i]) {
            return false;
        }
    }
    return true;
}

/// The commands that carry the login, each with its blank.
constexpr std::string_view kLoginCommands[2] = {"USER ", "PASS "};

/// Whether `head`, the start of a client line (the whole of it when `complete`), tells what
/// the line is: `command` is then the index of the login command it is, or -1.
bool KnowsLoginCommand(std::string_view head, bool complete, int& command) {
    command = -1;
    for (int i = 0; i < 2; ++i) {
        const std::string_view word = kLoginCommands[i].substr(0, 4);
        const std::size_t n = std::min(head.size(), word.size());
        if (!StartsWithCommand(head.substr(0, n), word.substr(0, n))) {
            continue;
        }
        if (head.size() <= word.size()) {
            return complete;
        }
        // A NUL too: a server reading C strings takes the line for the bare command.
        if (head[word.size()] == ' ' || head[word.size()] == '\t' || head[word.size()] == '\0') {
            command = i;
        }
        return true;
    }
    return true;
}

}  // namespace

bool Pop3LoginSwap::SendsStoredLogin(const ServerEntry& entry) {
    // An OAuth entry signs in with a token: a login stored from before is never sent.
    return entry.CredentialLength != 0 && !entry.SignsInWithOAuth();
}

std::string Pop3LoginSwap::UnsafeLoginReason(const ServerEntry& entry) {
    if (!entry.Is(ServerType::Pop3) || !SendsStoredLogin(entry)) {
        return {};
    }
    std::string user;
    std::string password;
    UnpackCredentials(entry.Credentials, entry.CredentialLength, user, password);
    const char* reason = LoginHoldsLineBreakOrNul(user)       ? "the user name holds a line break"
                         : LoginHoldsLineBreakOrNul(password) ? "the password holds a line break"
                                                              : "";
    password.assign(password.size(), '\0');
    return reason;
}

std::string_view Pop3LoginSwap::FromClient(std::string_view block) {
    return SendsStoredLogin(entry_) ? SwapLogin(block) : PassLines(block);
}

std::string_view Pop3LoginSwap::SwapLogin(std::string_view block) {
    // No line of the client's may carry its own login: every line ended by LF (with CR or
    // without, as servers take both) is a command, whatever it holds and however long it is,
    // and only its start is held, until it tells whether it is USER or PASS.
    output_.clear();
    if (!pending_) {
        input_.clear();
    }
    while (!block.empty()) {
        const std::size_t lf = block.find('\n');
        const bool complete = lf != std::string_view::npos;
        const std::string_view piece = block.substr(0, complete ? lf + 1 : block.size());
        block.remove_prefix(piece.size());
        switch (line_) {
            case Line::Undecided: {
                input_.append(piece);
                int command = -1;
                if (!KnowsLoginCommand(input_, complete, command)) {
                    break;
                }
                if (command >= 0) {
                    std::string login[2];
                    UnpackCredentials(entry_.Credentials, entry_.CredentialLength, login[0],
                                      login[1]);
                    output_.append(kLoginCommands[command]).append(login[command]).append("\r\n");
                    line_ = Line::Dropping;
                } else {
                    output_.append(input_);
                    line_ = Line::Passing;
                }
                input_.clear();
                break;
            }
            case Line::Passing:
                output_.append(piece);
                break;
            case Line::Dropping:
                break;
        }
        if (complete) {
            line_ = Line::Undecided;
        }
    }
    pending_ = !input_.empty();
    return output_;
}

std::string_view Pop3LoginSwap::PassLines(std::string_view block) {
    if (block.empty()) {
        return {};  // idle or ending: the carried text waits for Flush
    }
    if (!pending_) {
        input_.clear();
    }
    pending_ = false;
    output_.clear();
    input_.append(block);
    const std::string_view input = input_;
    std::size_t start = 0;
    for (;;) {
        std::size_t lineEnd = 0;
        // Lines are cut as the header reader cuts a retrieved message's: a folded line whole.
        const LineEnd found = FindLineEnd(input, start, lineEnd, true);
        if (found == LineEnd::Incomplete) {
            std::size_t keep = input.size() - start;
            if (passingLong_ || keep > kMaxLine) {
                // Too long to hold: send what we have but the last byte, which may be the CR
                // of the line's CR LF.
                output_.append(input.substr(start, keep - 1));
                start += keep - 1;
                passingLong_ = true;
            }
            input_.erase(0, start);
            pending_ = true;
            break;
        }
        if (found == LineEnd::Exhausted) {
            break;
        }
        const std::string_view line = input.substr(start, lineEnd + 1 - start);
        start = lineEnd + 1;
        if (passingLong_) {
            passingLong_ = false;
        } else if (line == kBlankLine) {
            // The rest of the block goes as it is.
            output_.append(input.substr(start - line.size()));
            break;
        }
        output_.append(line);
    }
    return output_;
}

std::string Pop3LoginSwap::Flush() {
    std::string carried = pending_ ? std::move(input_) : std::string();
    input_.clear();
    pending_ = false;
    passingLong_ = false;
    line_ = Line::Undecided;
    return carried;
}

}  // namespace vantel
