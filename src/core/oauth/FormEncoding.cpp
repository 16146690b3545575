#include "core/oauth/FormEncoding.h"

#include "core/config/AsciiText.h"

namespace vantel {
namespace {

bool IsUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string PercentEncode(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (IsUnreserved(c)) {
            out += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}

std::optional<std::string> PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c != '%') {
            out += c;
        } else {
            if (text.size() - i < 3) {
                return std::nullopt;
            }
            const int high = HexDigitValue(text[i + 1]);
            const int low = HexDigitValue(text[i + 2]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            out += static_cast<char>(high << 4 | low);
            i += 2;
        }
    }
    return out;
}

std::string FormEncode(const FormFields& fields) {
    std::string out;
    for (const auto& [name, value] : fields) {
        if (!out.empty()) {
            out += '&';
        }
        out += PercentEncode(name);
        out += '=';
        out += PercentEncode(value);
    }
    return out;
}

}  // namespace vantel
