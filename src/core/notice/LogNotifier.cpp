#include "core/notice/LogNotifier.h"

#include "platform/EscapedText.h"

namespace vantel {

std::string LogNotifier::Stamp(std::time_t when) {
    // The relay's one thread writes the log; localtime's shared result is safe there.
    const std::tm* local = std::localtime(&when);
    char text[32] = {};
    if (local == nullptr || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local) == 0) {
        return "0000-00-00 00:00:00";
    }
    return text;
}

void LogNotifier::ShowMessage(std::string_view text) {
    std::string line = Stamp(std::time(nullptr));
    line.append(" ");
    // One line each: a line break inside a message would start what looks like another.
    line.append(OneLine(text));
    log_.WriteLine(line);
}

}  // namespace vantel
