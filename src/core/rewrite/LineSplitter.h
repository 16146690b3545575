// Cutting relayed text into CR LF lines.
#pragma once

#include <cstddef>
#include <string_view>

namespace vantel {

enum class LineEnd {
    Complete,    ///< a line ends at the reported LF
    Incomplete,  ///< the text from the start holds no complete line yet
    Exhausted,   ///< the start is at the end of the text
};

/// Finds the line that begins at `start`. On Complete, `lineEnd` is the position of the LF of
/// the line's final CR LF. With `joining`, a CR LF followed by a blank, tab, vertical tab or
/// form feed continues the line (a folded header); a CR LF at the very end of the text, and a
/// blank line, always end it.
LineEnd FindLineEnd(std::string_view text, std::size_t start, std::size_t& lineEnd, bool joining);

}  // namespace vantel
