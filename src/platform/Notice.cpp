#include "platform/Notice.h"

#include "platform/EscapedText.h"

namespace vantel {
namespace {

std::string RepeatText(int repeats) {
    return "(repeated " + std::to_string(repeats) + (repeats == 1 ? " time)" : " times)");
}

}  // namespace

// The parts may hold what a server sent (its certificate's names, its reply): none of their
// bytes may break a line or reach a terminal.

std::string Notice::Box() const {
    std::string box = EscapeControls(text);
    if (!entry.empty() || !host.empty() || !reason.empty()) {
        box.append("\n");
    }
    if (!entry.empty()) {
        box.append("\nEntry: ").append(EscapeControls(entry));
    }
    if (!host.empty()) {
        box.append("\nHost: ").append(EscapeControls(host));
    }
    if (!reason.empty()) {
        box.append("\nReason: ").append(EscapeControls(reason));
    }
    if (repeats > 0) {
        box.append("\n\n").append(RepeatText(repeats));
    }
    return box;
}

std::string Notice::Line() const {
    std::string line = EscapeControls(text);
    const char* separator = ": ";
    for (const std::string* part : {&entry, &host, &reason}) {
        if (!part->empty()) {
            line.append(separator).append(EscapeControls(*part));
            separator = "; ";
        }
    }
    if (repeats > 0) {
        line.append(" ").append(RepeatText(repeats));
    }
    return line;
}

}  // namespace vantel
