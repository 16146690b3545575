// What one direction of one relayed connection remembers between blocks.
#pragma once

#include <string>

namespace vantel {

struct StreamState {
    /// Longest logical line, CR LF included, that the rewriting looks at; longer lines pass
    /// through untouched.
    static constexpr std::size_t kMaxLine = 2047;

    bool pendingText = false;  ///< `input` ends with an incomplete line carried to the next block
    bool inBody = false;       ///< the blank line ending a header was seen; blocks pass unchanged
    /// The carried text is the tail of a line too long to rewrite: it passes through up to its
    /// line end.
    bool passingLongLine = false;
    std::string input;   ///< carried text plus the new block
    std::string output;  ///< the rewritten text of the current block
};

}  // namespace vantel
