// Reading and writing the Windows .reg text format; no I/O, bytes in and out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/store/RegImage.h"

namespace vantel {

class RegFile {
  public:
    struct ParseError {
        std::size_t line = 0;  ///< 1-based.
        std::string reason;
    };

    /// Applies a .reg file to `image` as an import would: keys are created, `[-KEY]` and
    /// `"Name"=-` delete. Accepts UTF-8 (with or without BOM), ANSI bytes and UTF-16LE with
    /// BOM. On malformed input returns false with the line and reason; `image` then holds the
    /// lines before the error.
    static bool Parse(std::string_view bytes, RegImage& image, ParseError& error);

    /// The whole image as a "Windows Registry Editor Version 5.00" file: UTF-8, CRLF, keys
    /// ordered parents first. Parse(Format(image)) gives back an equal image, except that
    /// REG_SZ text holding control characters is stored as UTF-16, so such text that is not
    /// UTF-8 comes back as the UTF-8 of its Latin-1 reading.
    static std::string Format(const RegImage& image);
};

}  // namespace vantel
