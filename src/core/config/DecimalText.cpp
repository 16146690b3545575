#include "core/config/DecimalText.h"

#include <climits>

namespace vantel {
namespace {

bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

int ParseDecimalPrefix(std::string_view text, std::size_t& consumed) {
    consumed = 0;
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t digitsStart = i;
    long long magnitude = 0;
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        if (magnitude < limit) {
            magnitude = magnitude * 10 + (text[i] - '0');
            if (magnitude > limit) {
                magnitude = limit;
            }
        }
        ++i;
    }
    if (i == digitsStart) {
        return 0;
    }
    consumed = i;
    return static_cast<int>(negative ? -magnitude : magnitude);
}

int ParseDecimal(std::string_view text) {
    std::size_t consumed = 0;
    return ParseDecimalPrefix(text, consumed);
}

std::string FormatDecimal(int value) {
    return std::to_string(value);
}

}  // namespace vantel
