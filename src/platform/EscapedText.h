// Text made safe for a line we write: no byte a peer sent may end the line, forge another or
// reach a terminal as a command.
#pragma once

#include <string>
#include <string_view>

namespace vantel {

/// `text` with every control written as an escape: "\r", "\n", "\t", "\x1b", C1 controls
/// (raw, or in UTF-8) byte by byte as "\xc2\x9b". Everything else stays as it is, backslashes
/// too: escaping twice changes nothing, and a Windows path reads as it is.
std::string EscapeControls(std::string_view text);

/// The same for text of many lines, a block of relayed traffic: its line feeds, the CR of a
/// CR LF (or one that ends the text) and tabs stay.
std::string EscapeControlsInLines(std::string_view text);

/// A message of the program's own on one line: its line breaks become blanks, any other
/// control is escaped.
std::string OneLine(std::string_view text);

}  // namespace vantel
