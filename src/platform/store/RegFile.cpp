#include "platform/store/RegFile.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "core/config/AsciiText.h"
#include "platform/store/Utf16.h"

namespace vantel {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kAnsiHeader = "REGEDIT4";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kHexWrapColumn = 76;  // keeps wrapped lines, "\" included, within 80
constexpr char kHexDigits[] = "0123456789abcdef";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    return s;
}

std::string_view TrimRight(std::string_view s) {
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool OnlyCommentLeft(std::string_view s) {
    s = TrimLeft(s);
    return s.empty() || s.front() == ';';
}

/// Length of the run of hex digits at the start of `s`, and their value when it fits.
std::size_t ReadHexNumber(std::string_view s, std::uint32_t& value) {
    std::size_t n = 0;
    value = 0;
    while (n < s.size() && HexDigitValue(s[n]) >= 0) {
        value = (value << 4) | static_cast<std::uint32_t>(HexDigitValue(s[n]));
        ++n;
    }
    return n;
}

bool StartsWithFolded(std::string_view s, std::string_view lowerPrefix) {
    if (s.size() < lowerPrefix.size()) {
        return false;
    }
    return std::equal(lowerPrefix.begin(), lowerPrefix.end(), s.begin(), [](char p, char c) {
        return p == ((c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c);
    });
}

/// Reads the quoted string at the start of `s` and advances past its closing quote. Accepts
/// the escapes regedit writes (\\ and \") and those Wine also reads (\n and \r).
bool ReadQuoted(std::string_view& s, std::string& out, std::string& reason) {
    std::size_t pos = 1;
    for (;;) {
        const std::size_t stop = s.find_first_of("\"\\", pos);
        if (stop == std::string_view::npos) {
            reason = "unterminated string";
            return false;
        }
        out.append(s.data() + pos, stop - pos);
        if (s[stop] == '"') {
            s.remove_prefix(stop + 1);
            return true;
        }
        if (stop + 1 == s.size()) {
            reason = "unterminated string";
            return false;
        }
        switch (s[stop + 1]) {
            case '\\':
            case '"':
                out += s[stop + 1];
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                reason = std::string("unknown escape '\\") + s[stop + 1] + "'";
                return false;
        }
        pos = stop + 2;
    }
}

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
    return out;
}

/// Control characters other than tab cannot stand in a quoted string on one line.
bool Quotable(const std::vector<std::uint8_t>& text) {
    return std::none_of(text.begin(), text.end(),
                        [](std::uint8_t c) { return c < 0x20 && c != '\t'; });
}

void AppendHexByte(std::string& out, std::uint8_t b) {
    out += kHexDigits[b >> 4];
    out += kHexDigits[b & 0x0F];
}

std::string HexNumber(std::uint32_t n) {
    std::string digits;
    do {
        digits.insert(digits.begin(), kHexDigits[n & 0x0F]);
        n >>= 4;
    } while (n != 0);
    return digits;
}

void AppendHexData(std::string& out, std::string_view prefix,
                   const std::vector<std::uint8_t>& data) {
    std::size_t lineStart = out.size();
    out += prefix;
    for (std::size_t i = 0; i < data.size(); ++i) {
        AppendHexByte(out, data[i]);
        if (i + 1 == data.size()) {
            break;
        }
        out += ',';
        if (out.size() - lineStart > kHexWrapColumn) {
            out += "\\\r\n  ";
            lineStart = out.size() - 2;
        }
    }
    out += kLineEnd;
}

void AppendValue(std::string& out, const RegValue& value) {
    std::string prefix = value.name.empty() ? std::string("@") : Quote(value.name);
    prefix += '=';
    const std::string_view text(reinterpret_cast<const char*>(value.data.data()),
                                value.data.size());
    if (value.type == kRegSz && Quotable(value.data)) {
        out += prefix;
        out += Quote(text);
        out += kLineEnd;
    } else if (value.type == kRegSz) {
        std::vector<std::uint8_t> units = Utf16::FromText(text);
        units.insert(units.end(), {0, 0});
        AppendHexData(out, prefix + "hex(1):", units);
    } else if (value.type == kRegDword && value.data.size() == 4) {
        out += prefix;
        out += "dword:";
        for (std::size_t i = 4; i-- > 0;) {
            AppendHexByte(out, value.data[i]);
        }
        out += kLineEnd;
    } else if (value.type == kRegBinary) {
        AppendHexData(out, prefix + "hex:", value.data);
    } else {
        AppendHexData(out, prefix + "hex(" + HexNumber(value.type) + "):", value.data);
    }
}

}  // namespace

bool RegFile::Parse(std::string_view bytes, RegImage& image, ParseError& error) {
    std::size_t lineNo = 0;
    const auto fail = [&](std::string reason) {
        error.line = std::max<std::size_t>(lineNo, 1);
        error.reason = std::move(reason);
        return false;
    };

    std::string decoded;
    std::string_view text = bytes;
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        decoded = Utf16::ToUtf8(bytes.substr(2));
        text = decoded;
        if (bytes.size() % 2 != 0) {
            lineNo = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
            return fail("UTF-16 text ends in half a character");
        }
    } else if (bytes.substr(0, 2) == "\xFE\xFF") {
        return fail("big-endian UTF-16 is not supported");
    } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }

    const std::size_t nul = text.find('\0');
    if (nul != std::string_view::npos) {
        lineNo = static_cast<std::size_t>(std::count(text.begin(), text.begin() + nul, '\n')) + 1;
        return fail("NUL byte in text");
    }

    std::size_t pos = 0;
    std::string_view line;
    const auto nextLine = [&] {
        if (pos >= text.size()) {
            return false;
        }
        const std::size_t newline = text.find('\n', pos);
        const std::size_t end = newline == std::string_view::npos ? text.size() : newline;
        line = text.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        pos = end + 1;
        ++lineNo;
        return true;
    };

    // Comma-separated bytes, possibly continued over lines ending in '\'.
    const auto readHex = [&](std::string_view s, std::vector<std::uint8_t>& out) {
        enum class Expect { FirstByte, Separator, Byte } expect = Expect::FirstByte;
        for (;;) {
            s = TrimLeft(s);
            if (s.empty() || s.front() == ';') {
                return expect == Expect::Byte ? fail("hex data ends with ','") : true;
            }
            if (s.front() == '\\') {
                if (expect == Expect::Separator) {
                    return fail("expected ',' before line continuation");
                }
                if (!TrimLeft(s.substr(1)).empty()) {
                    return fail("unexpected text after line continuation");
                }
                if (!nextLine()) {
                    return fail("file ends inside a continued value");
                }
                s = TrimLeft(line);
                if (s.empty() || s.front() == ';') {
                    return fail("expected hex data to continue");
                }
                continue;
            }
            if (expect == Expect::Separator) {
                if (s.front() != ',') {
                    return fail("expected ',' between hex bytes");
                }
                s.remove_prefix(1);
                expect = Expect::Byte;
                continue;
            }
            const int hi = HexDigitValue(s[0]);
            const int lo = s.size() > 1 ? HexDigitValue(s[1]) : -1;
            if (hi < 0 || lo < 0) {
                return fail("expected two hex digits");
            }
            out.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
            s.remove_prefix(2);
            expect = Expect::Separator;
        }
    };

    if (!nextLine()) {
        return fail("empty file");
    }
    const std::string_view header = TrimRight(line);
    const bool unicode = header == kHeader;
    if (!unicode && header != kAnsiHeader) {
        return fail("missing header \"" + std::string(kHeader) + "\"");
    }

    std::optional<std::string> key;  // as written in the file; lookups ignore case
    while (nextLine()) {
        std::string_view s = TrimLeft(line);
        if (s.empty() || s.front() == ';') {
            continue;
        }
        if (s.front() == '[') {
            s = TrimRight(s);
            if (s.size() < 2 || s.back() != ']') {
                return fail("key line does not end with ']'");
            }
            std::string_view path = s.substr(1, s.size() - 2);
            const bool remove = !path.empty() && path.front() == '-';
            if (remove) {
                path.remove_prefix(1);
            }
            if (!RegImage::IsValidPath(path)) {
                return fail("invalid key name");
            }
            if (remove) {
                image.DeleteTree(path);
                key.reset();
            } else {
                image.CreateKey(path);
                key = std::string(path);
            }
            continue;
        }
        if (s.front() != '"' && s.front() != '@') {
            return fail("unexpected text");
        }
        if (!key) {
            return fail("value outside any key");
        }

        RegValue value;
        std::string reason;
        if (s.front() == '@') {
            s.remove_prefix(1);
        } else if (!ReadQuoted(s, value.name, reason)) {
            return fail(reason);
        }
        if (!RegImage::IsValidValueName(value.name)) {
            return fail("invalid value name");
        }
        s = TrimLeft(s);
        if (s.empty() || s.front() != '=') {
            return fail("missing '=' after value name");
        }
        s = TrimLeft(s.substr(1));

        if (!s.empty() && s.front() == '-') {
            if (!OnlyCommentLeft(s.substr(1))) {
                return fail("unexpected text after '-'");
            }
            image.DeleteValue(*key, value.name);
            continue;
        }
        if (!s.empty() && s.front() == '"') {
            std::string data;
            if (!ReadQuoted(s, data, reason)) {
                return fail(reason);
            }
            if (!OnlyCommentLeft(s)) {
                return fail("unexpected text after string");
            }
            value.type = kRegSz;
            value.data.assign(data.begin(), data.end());
        } else if (StartsWithFolded(s, "dword:")) {
            std::uint32_t number = 0;
            const std::size_t digits = ReadHexNumber(s.substr(6), number);
            if (digits == 0 || digits > 8) {
                return fail("dword needs 1 to 8 hex digits");
            }
            if (!OnlyCommentLeft(s.substr(6 + digits))) {
                return fail("unexpected text after dword");
            }
            value.type = kRegDword;
            for (int shift = 0; shift < 32; shift += 8) {
                value.data.push_back(static_cast<std::uint8_t>(number >> shift));
            }
        } else if (StartsWithFolded(s, "hex:") || StartsWithFolded(s, "hex(")) {
            s.remove_prefix(3);
            if (s.front() == '(') {
                const std::size_t digits = ReadHexNumber(s.substr(1), value.type);
                if (digits == 0 || digits > 8 || s.substr(1 + digits, 2) != "):") {
                    return fail("bad hex(type)");
                }
                s.remove_prefix(digits + 3);
            } else {
                value.type = kRegBinary;
                s.remove_prefix(1);
            }
            if (!readHex(s, value.data)) {
                return false;
            }
            if (value.type == kRegSz && unicode) {
                if (value.data.size() % 2 != 0) {
                    return fail("string data ends in half a character");
                }
                std::string textValue = Utf16::ToUtf8(std::string_view(
                    reinterpret_cast<const char*>(value.data.data()), value.data.size()));
                if (!textValue.empty() && textValue.back() == '\0') {
                    textValue.pop_back();
                }
                value.data.assign(textValue.begin(), textValue.end());
            } else if (value.type == kRegSz && !value.data.empty() && value.data.back() == 0) {
                value.data.pop_back();
            }
        } else {
            return fail("unrecognised value data");
        }
        image.SetValue(*key, std::move(value));
    }
    return true;
}

std::string RegFile::Format(const RegImage& image) {
    std::string out(kHeader);
    out += kLineEnd;
    out += kLineEnd;
    for (const std::string& path : image.KeyPaths()) {
        const std::vector<const RegValue*> values = image.Values(path);
        if (values.empty() && image.HasSubkeys(path)) {
            continue;  // importing its subkeys creates it
        }
        out += '[';
        out += path;
        out += ']';
        out += kLineEnd;
        for (const RegValue* value : values) {
            AppendValue(out, *value);
        }
        out += kLineEnd;
    }
    return out;
}

}  // namespace vantel
