#include "platform/Notice.h"

namespace vantel {
namespace {

std::string RepeatText(int repeats) {
    return "(repeated " + std::to_string(repeats) + (repeats == 1 ? " time)" : " times)");
}

}  // namespace

std::string Notice::Box() const {
    std::string box = text;
    if (!entry.empty() || !host.empty() || !reason.empty()) {
        box.append("\n");
    }
    if (!entry.empty()) {
        box.append("\nEntry: ").append(entry);
    }
    if (!host.empty()) {
        box.append("\nHost: ").append(host);
    }
    if (!reason.empty()) {
        box.append("\nReason: ").append(reason);
    }
    if (repeats > 0) {
        box.append("\n\n").append(RepeatText(repeats));
    }
    return box;
}

std::string Notice::Line() const {
    std::string line = text;
    const char* separator = ": ";
    for (const std::string* part : {&entry, &host, &reason}) {
        if (!part->empty()) {
            line.append(separator).append(*part);
            separator = "; ";
        }
    }
    if (repeats > 0) {
        line.append(" ").append(RepeatText(repeats));
    }
    return line;
}

}  // namespace vantel
