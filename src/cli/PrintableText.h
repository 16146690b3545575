// Text from a server or a settings file made fit to show on a terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantel {

/// The length of the well-formed UTF-8 sequence at the start of `text`, its character in
/// `code`; 0 when none starts there (a stray byte, an overlong form, a surrogate).
std::size_t Utf8Sequence(std::string_view text, std::uint32_t& code);

/// `text` safe to write to a terminal: printable ASCII and well-formed UTF-8 stay, a tab
/// becomes a blank, and every other byte (NUL, escape sequences, C1 controls, broken UTF-8)
/// becomes "?". Line ends too: give it one line at a time.
std::string PrintableText(std::string_view text);

}  // namespace vantel
