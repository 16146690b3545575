#include "core/rewrite/MessageRewriter.h"

#include <algorithm>

#include "core/rewrite/KludgeEntry.h"
#include "core/rewrite/LineSplitter.h"

namespace vantel {
namespace {

constexpr std::string_view kBlankLine = "\r\n";

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

std::string MessageRewriter::FlushStream(StreamState& state) {
    std::string carried = state.pendingText ? std::move(state.input) : std::string();
    state.input.clear();
    state.pendingText = false;
    state.passingLongLine = false;
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
