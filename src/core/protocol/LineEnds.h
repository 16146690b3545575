// Keeping the two ends of a line that arrives in pieces (its start tells the command, its
// end whether a literal follows), and passing text on uncopied until a filter changes it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantel {

/// `line` without the CR and LF that end it.
inline std::string_view WithoutLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    return line;
}

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

/// The result of a filter that passes most text as it is: the input goes back uncopied until
/// the filter first holds, drops or changes a byte; from then on it is built in `output`.
class PassThrough {
  public:
    PassThrough(std::string_view whole, std::string& output) : whole_(whole), output_(output) {}

    /// From here on the result is built in `output`: it starts with what came before `rest`,
    /// the part of the input not yet read.
    void Copy(std::string_view rest) {
        if (!copying_) {
            output_.assign(whole_.substr(0, whole_.size() - rest.size()));
            copying_ = true;
        }
    }
    /// `piece` passes as it is.
    void Pass(std::string_view piece) {
        if (copying_) {
            output_.append(piece);
        }
    }
    std::string_view result() const { return copying_ ? std::string_view(output_) : whole_; }

  private:
    std::string_view whole_;
    std::string& output_;
    bool copying_ = false;
};

}  // namespace vantel
