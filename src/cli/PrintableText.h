// Text from a server or a settings file made fit to show on a terminal.
#pragma once

#include <string>
#include <string_view>

namespace vantel {

/// `text` safe to write to a terminal: printable ASCII and well-formed UTF-8 stay, a tab
/// becomes a blank, and every other byte (NUL, escape sequences, C1 controls, broken UTF-8)
/// becomes "?". Line ends too: give it one line at a time.
std::string PrintableText(std::string_view text);

}  // namespace vantel
