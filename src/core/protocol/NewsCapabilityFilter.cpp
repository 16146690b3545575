#include "core/protocol/NewsCapabilityFilter.h"

#include "core/protocol/LineEnds.h"
#include "core/rewrite/AsciiText.h"

namespace vantel {
namespace {

constexpr std::string_view kCapabilities = "CAPABILITIES";

/// A line without its CR LF.
std::string_view Bare(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    return line;
}

}  // namespace

void NewsCapabilityFilter::ClientSent(std::string_view text) {
    constexpr std::size_t kHead = kCapabilities.size() + 2;
    // Only the last complete line counts: a command after CAPABILITIES disarms the filter. So
    // a block is read from its end, and a message passing through costs no scan of its lines.
    const std::size_t lastLf = text.rfind('\n');
    if (lastLf == std::string_view::npos) {
        KeepFirst(clientLine_, text, kHead);
        return;
    }
    const std::size_t before = lastLf == 0 ? std::string_view::npos : text.rfind('\n', lastLf - 1);
    if (before != std::string_view::npos) {
        clientLine_.clear();
    }
    const std::size_t start = before == std::string_view::npos ? 0 : before + 1;
    KeepFirst(clientLine_, text.substr(start, lastLf + 1 - start), kHead);
    const std::string_view line = Bare(clientLine_);
    const bool asks = line.size() >= kCapabilities.size() &&
                      EqualsNoCase(line.substr(0, kCapabilities.size()), kCapabilities) &&
                      (line.size() == kCapabilities.size() || line[kCapabilities.size()] == ' ');
    if (state_ != State::List) {
        state_ = asks ? State::Armed : State::Idle;
    }
    clientLine_.clear();
    KeepFirst(clientLine_, text.substr(lastLf + 1), kHead);
}

std::string_view NewsCapabilityFilter::Filter(std::string_view text) {
    if (state_ == State::Idle && partial_.empty()) {
        return text;
    }
    output_.clear();
    while (!text.empty()) {
        if (state_ == State::Idle) {
            output_.append(text);
            break;
        }
        const std::size_t lf = text.find('\n');
        if (lf == std::string_view::npos) {
            partial_.append(text);
            if (partial_.size() > kMaxLine) {
                output_.append(partial_);  // no list line is this long: not a list
                partial_.clear();
                state_ = State::Idle;
            }
            break;
        }
        partial_.append(text.substr(0, lf + 1));
        text.remove_prefix(lf + 1);
        const std::string line = std::move(partial_);
        partial_.clear();
        Line(line);
    }
    return output_;
}

void NewsCapabilityFilter::Line(std::string_view line) {
    const std::string_view bare = Bare(line);
    if (state_ == State::Armed) {
        state_ = bare.substr(0, 3) == "101" ? State::List : State::Idle;
    } else if (bare == ".") {
        state_ = State::Idle;
    } else if (EqualsNoCase(bare, "STARTTLS")) {
        return;
    }
    output_.append(line);
}

std::string NewsCapabilityFilter::Flush() {
    std::string rest = std::move(partial_);
    partial_.clear();
    state_ = State::Idle;
    return rest;
}

}  // namespace vantel
