#include "core/notice/LogTrace.h"

#include <ctime>
#include <string>

#include "core/notice/LogNotifier.h"
#include "platform/EscapedText.h"

namespace vantel {

void LogTrace::Write(std::string_view text) {
    if (also_ != nullptr) {
        also_->Write(text);
    }
    if (!enabled_) {
        return;
    }
    // The trace writes its "[Vantel] " marker by itself: it goes with the line that follows.
    if (text.size() < kMarkerSize && text.find('\n') == std::string_view::npos) {
        marker_.assign(text);
        return;
    }
    std::string record = std::move(marker_);
    marker_.clear();
    record.append(text);
    text = record;
    // A block of relayed text holds many lines: each becomes a line of the log.
    const std::string stamp = LogNotifier::Stamp(std::time(nullptr)) + " ";
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        log_.WriteLine(stamp + EscapeControlsInLines(line));
        if (lf == std::string_view::npos) {
            break;
        }
        text.remove_prefix(lf + 1);
    }
}

}  // namespace vantel
