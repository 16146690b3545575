#include "core/protocol/smtp/NewsCapabilityFilter.h"

#include <algorithm>

#include "core/config/AsciiText.h"
#include "core/protocol/LineEnds.h"
#include "core/protocol/smtp/ReplyCode.h"

namespace vantel {
namespace {

constexpr int kListGroup = 0;  ///< the index of LISTGROUP among the commands followed

constexpr std::string_view kStartTls = "STARTTLS";
/// Bytes of a server line's start that tell its code, or whether it is the "." line.
constexpr std::size_t kHead = 4;

/// Whether a reply runs to a "." line: help, capabilities, lists, articles and their heads
/// and bodies, overviews, header lists, new articles and groups, group descriptions; 211
/// only answering LISTGROUP (it answers GROUP in one line).
bool IsMultiLine(int code, int command) {
    switch (code) {
        case 100:
        case 101:
        case 215:
        case 220:
        case 221:
        case 222:
        case 224:
        case 225:
        case 230:
        case 231:
        case 282:
            return true;
        case 211:
            return command == kListGroup;
        default:
            return false;
    }
}

/// Whether `text`, the start of a line, may still become "STARTTLS" and its line end.
bool MayBeStartTls(std::string_view text) {
    const std::size_t n = std::min(text.size(), kStartTls.size());
    if (!EqualsNoCase(text.substr(0, n), kStartTls.substr(0, n))) {
        return false;
    }
    const std::string_view rest = text.substr(n);
    return rest.empty() || rest == "\r" || rest == "\r\n" || rest == "\n";
}

bool IsDotLine(std::string_view line) {
    return line == ".\r\n" || line == ".\n";
}

}  // namespace

std::string_view NewsCapabilityFilter::Filter(std::string_view text) {
    // Until a list line is held or dropped, the text passes as it is, uncopied.
    PassThrough out(text, output_);
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        const bool complete = lf != std::string_view::npos;
        const std::string_view piece = text.substr(0, complete ? lf + 1 : text.size());
        KeepFirst(head_, piece, kHead);
        if (lineMode_ == LineMode::Undecided && !list_) {
            lineMode_ = LineMode::Passing;
        }
        switch (lineMode_) {
            case LineMode::Passing:
                out.Pass(piece);
                break;
            case LineMode::Dropped:
                out.Copy(text);
                break;
            case LineMode::Undecided:
                out.Copy(text);
                partial_.append(piece);
                if (!MayBeStartTls(partial_)) {
                    output_.append(partial_);
                    partial_.clear();
                    lineMode_ = LineMode::Passing;
                } else if (complete) {
                    partial_.clear();
                    lineMode_ = LineMode::Dropped;
                }
                break;
        }
        text.remove_prefix(piece.size());
        if (complete) {
            LineEnded();
        }
    }
    return out.result();
}

void NewsCapabilityFilter::LineEnded() {
    if (statusLine_) {
        const int code = ReplyCode(head_);
        body_ = IsMultiLine(code, commands_.Next());
        list_ = body_ && code == 101;
        statusLine_ = !body_;
    } else if (IsDotLine(head_)) {
        body_ = false;
        list_ = false;
        statusLine_ = true;
    }
    if (statusLine_) {
        commands_.ReplyEnded();
    }
    head_.clear();
    lineMode_ = LineMode::Undecided;
}

std::string NewsCapabilityFilter::Flush() {
    std::string rest = std::move(partial_);
    partial_.clear();
    head_.clear();
    lineMode_ = LineMode::Undecided;
    statusLine_ = true;
    body_ = false;
    list_ = false;
    return rest;
}

}  // namespace vantel
