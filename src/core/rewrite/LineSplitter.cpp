#include "core/rewrite/LineSplitter.h"

namespace vantel {
namespace {

bool ContinuesLine(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::size_t FindCrLf(std::string_view text, std::size_t from) {
    for (std::size_t i = text.find('\r', from); i != std::string_view::npos;
         i = text.find('\r', i + 1)) {
        if (i + 1 < text.size() && text[i + 1] == '\n') {
            return i;
        }
    }
    return std::string_view::npos;
}

}  // namespace

LineEnd FindLineEnd(std::string_view text, std::size_t start, std::size_t& lineEnd, bool joining) {
    if (start >= text.size()) {
        return LineEnd::Exhausted;
    }
    std::size_t crlf = FindCrLf(text, start);
    while (crlf != std::string_view::npos) {
        const std::size_t lf = crlf + 1;
        // A blank line never folds: it ends the header, whatever the body starts with.
        if (!joining || crlf == start || lf + 1 >= text.size() || !ContinuesLine(text[lf + 1])) {
            lineEnd = lf;
            return LineEnd::Complete;
        }
        crlf = FindCrLf(text, lf + 2);
    }
    return LineEnd::Incomplete;
}

}  // namespace vantel
