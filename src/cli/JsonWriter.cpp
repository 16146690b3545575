#include "cli/JsonWriter.h"

#include "cli/PrintableText.h"

namespace vantel {

std::string JsonWriter::Quote(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string quoted = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80) {
            std::uint32_t code = 0;
            if (const std::size_t length = Utf8Sequence(text.substr(i), code); length != 0) {
                quoted.append(text.substr(i, length));
                i += length;
                continue;
            }
            // A byte of another code page: its Latin-1 character, encoded.
            quoted += static_cast<char>(0xC0 | (byte >> 6));
            quoted += static_cast<char>(0x80 | (byte & 0x3F));
        } else if (byte == '"' || byte == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(byte);
        } else if (byte == '\n') {
            quoted += "\\n";
        } else if (byte == '\r') {
            quoted += "\\r";
        } else if (byte == '\t') {
            quoted += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            quoted += "\\u00";
            quoted += kHex[byte >> 4];
            quoted += kHex[byte & 0x0F];
        } else {
            quoted += static_cast<char>(byte);
        }
        ++i;
    }
    return quoted + "\"";
}

void JsonWriter::BeforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!open_.empty()) {
        if (open_.back()) {
            text_ += ',';
        }
        open_.back() = true;
    }
}

JsonWriter& JsonWriter::BeginObject() {
    BeforeValue();
    text_ += '{';
    open_.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::EndObject() {
    text_ += '}';
    open_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::BeginArray() {
    BeforeValue();
    text_ += '[';
    open_.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::EndArray() {
    text_ += ']';
    open_.pop_back();
    return *this;
}

JsonWriter& JsonWriter::Key(std::string_view name) {
    BeforeValue();
    text_ += Quote(name);
    text_ += ':';
    afterKey_ = true;
    return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
    BeforeValue();
    text_ += Quote(text);
    return *this;
}

JsonWriter& JsonWriter::Number(long long value) {
    BeforeValue();
    text_ += std::to_string(value);
    return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
    BeforeValue();
    text_ += value ? "true" : "false";
    return *this;
}

JsonWriter& JsonWriter::Null() {
    BeforeValue();
    text_ += "null";
    return *this;
}

}  // namespace vantel
