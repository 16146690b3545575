#include "core/rewrite/MessageRewriter.h"

#include <algorithm>

#include "core/config/CredentialCodec.h"
#include "core/rewrite/KludgeEntry.h"
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

template <typename HandleLine>
std::string_view MessageRewriter::ProcessLines(std::string_view block, StreamState& state,
                                               bool joining, HandleLine handleLine) {
    if (!ReadsLines(state)) {
        return block;  // message bodies pass untouched
    }
    if (block.empty()) {
        // The stream is ending or idle: keep any carried text for FlushStream.
        return {};
    }
    if (!state.pendingText) {
        state.input.clear();
    }
    state.pendingText = false;
    state.output.clear();
    state.input.append(block);
    // The rewritten text is about as long as what came in: grown once, not line by line.
    state.output.reserve(state.input.size());

    const std::string_view input = state.input;
    std::string& output = state.output;
    std::size_t start = 0;
    for (;;) {
        std::size_t lineEnd = 0;
        const LineEnd found = FindLineEnd(input, start, lineEnd, joining);
        if (found == LineEnd::Incomplete) {
            std::size_t keep = input.size() - start;
            if (state.passingLongLine || keep > StreamState::kMaxLine) {
                // Too long to be rewritten: send what we have, but hold the last byte back in
                // case it is the CR of the line's CR LF.
                output.append(input.substr(start, keep - 1));
                start += keep - 1;
                keep = 1;
                state.passingLongLine = true;
            }
            state.input.erase(0, start);
            state.pendingText = true;
            break;
        }
        if (found == LineEnd::Exhausted) {
            // Input used up exactly at a line end: the empty remainder still goes through
            // the kludges once, where only a kludge with an empty header name matches it.
            handleLine(std::string_view(), output);
            break;
        }
        const std::string_view line = input.substr(start, lineEnd + 1 - start);
        start = lineEnd + 1;
        if (state.passingLongLine) {
            output.append(line);
            state.passingLongLine = false;
        } else if (line == kBlankLine) {
            state.inBody = true;
            output.append(input.substr(start - line.size()));
            break;
        } else if (line.size() > StreamState::kMaxLine ||
                   line.find('\0') != std::string_view::npos) {
            output.append(line);
        } else {
            handleLine(line, output);
        }
    }
    return output;
}

std::string_view MessageRewriter::ProcessMessageBlock(std::string_view block, StreamState& state,
                                                      KludgeType mode) {
    const bool joining = mode == KludgeType::Pop3Kludge;
    if (ReadsLines(state)) {
        // Edits of the kludge lists made since the last block apply to this one.
        kludges_.Refresh();
    }
    return ProcessLines(block, state, joining, [&](std::string_view line, std::string& output) {
        if (!kludges_.ApplyRefreshedKludges(line, mode, output)) {
            output.append(line);
        }
        TagFromLine(line, output);
        if (mode == KludgeType::SmtpKludge) {
            MarkDateLine(line, output);
        }
    });
}

std::string_view MessageRewriter::ProcessPop3ClientBlock(std::string_view block, StreamState& state,
                                                         const ServerEntry& entry) {
    if (entry.CredentialLength == 0) {
        return ProcessLines(block, state, true, [](std::string_view line, std::string& output) {
            output.append(line);
        });
    }
    // With a stored login no line of the client's may carry its own: every line ended by LF
    // (with CR or without, as servers take both) is a command, whatever it holds and however
    // long it is, and only its start is held, until it tells whether it is USER or PASS.
    state.output.clear();
    if (!state.pendingText) {
        state.input.clear();
    }
    using LoginLine = StreamState::LoginLine;
    while (!block.empty()) {
        const std::size_t lf = block.find('\n');
        const bool complete = lf != std::string_view::npos;
        const std::string_view piece = block.substr(0, complete ? lf + 1 : block.size());
        block.remove_prefix(piece.size());
        switch (state.loginLine) {
            case LoginLine::Undecided: {
                state.input.append(piece);
                int command = -1;
                if (!KnowsLoginCommand(state.input, complete, command)) {
                    break;
                }
                if (command >= 0) {
                    std::string login[2];
                    UnpackCredentials(entry.Credentials, entry.CredentialLength, login[0],
                                      login[1]);
                    state.output.append(kLoginCommands[command])
                        .append(login[command])
                        .append("\r\n");
                    state.loginLine = LoginLine::Dropping;
                } else {
                    state.output.append(state.input);
                    state.loginLine = LoginLine::Passing;
                }
                state.input.clear();
                break;
            }
            case LoginLine::Passing:
                state.output.append(piece);
                break;
            case LoginLine::Dropping:
                break;
        }
        if (complete) {
            state.loginLine = LoginLine::Undecided;
        }
    }
    state.pendingText = !state.input.empty();
    return state.output;
}

std::string MessageRewriter::FlushStream(StreamState& state) {
    std::string carried = state.pendingText ? std::move(state.input) : std::string();
    state.input.clear();
    state.pendingText = false;
    state.passingLongLine = false;
    state.loginLine = StreamState::LoginLine::Undecided;
    return carried;
}

void MessageRewriter::MarkDateLine(std::string_view line, std::string& output) {
    if (line.find("Date:") == std::string_view::npos) {
        return;
    }
    const std::size_t date = output.find("Date:");
    if (date == std::string::npos) {
        return;
    }
    const std::size_t blank = output.rfind(' ');
    if (blank == std::string::npos || blank < date) {
        return;
    }
    output.insert(blank + 1, 1, ' ');
}

void MessageRewriter::TagFromLine(std::string_view line, std::string& output) {
    if (settings_.CustomValue != kHiddenModeCode) {
        return;
    }
    if (line.find("Date:") != std::string_view::npos) {
        const std::size_t date = output.find("Date:");
        if (date != std::string::npos) {
            dateMarked_ = output.find("  ", date) != std::string::npos;
        }
        return;
    }
    if (line.find("From:") != std::string_view::npos && dateMarked_ && output.size() >= 2) {
        output.resize(output.size() - 2);
        output.append("(Vantel)\r\n");
        dateMarked_ = false;
    }
}

}  // namespace vantel
