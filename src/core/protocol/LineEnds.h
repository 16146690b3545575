// Keeping the two ends of a line that arrives in pieces: its start tells the command, its
// end whether a literal follows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantel {

/// Appends to `kept` what of `piece` fits in its first `limit` bytes.
inline void KeepFirst(std::string& kept, std::string_view piece, std::size_t limit) {
    if (kept.size() < limit) {
        kept.append(piece.substr(0, limit - kept.size()));
    }
}

/// Keeps in `kept` the last `limit` bytes of what it held followed by `piece`.
inline void KeepLast(std::string& kept, std::string_view piece, std::size_t limit) {
    if (piece.size() >= limit) {
        kept.assign(piece.substr(piece.size() - limit));
        return;
    }
    kept.append(piece);
    if (kept.size() > limit) {
        kept.erase(0, kept.size() - limit);
    }
}

}  // namespace vantel
