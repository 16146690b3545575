#include "platform/EscapedText.h"

#include <gtest/gtest.h>

#include <string>

namespace vantel {
namespace {

using namespace std::string_literals;

TEST(EscapedText, ControlsShowEscapedAndEverythingElseAsItIs) {
    const struct {
        std::string text;
        std::string escaped;  ///< EscapeControls
        std::string inLines;  ///< EscapeControlsInLines
        std::string oneLine;  ///< OneLine
    } rows[] = {
        {"mail.example.org", "mail.example.org", "mail.example.org", "mail.example.org"},
        {"a\r\nvantel-relay: forged", "a\\r\\nvantel-relay: forged", "a\r\nvantel-relay: forged",
         "a  vantel-relay: forged"},
        {"\x1b[2J\x07\x7f", "\\x1b[2J\\x07\\x7f", "\\x1b[2J\\x07\\x7f", "\\x1b[2J\\x07\\x7f"},
        {"nul\0byte"s, "nul\\x00byte", "nul\\x00byte", "nul\\x00byte"},
        // A CR alone moves back over the line; one that ends a block is half a CR LF.
        {"pass\rFAKE\r", "pass\\rFAKE\\r", "pass\\rFAKE\r", "pass FAKE "},
        {"tab\there\n", "tab\\there\\n", "tab\there\n", "tab\\there "},
        // UTF-8 stays, its C1 controls do not; nor do C1 bytes outside UTF-8.
        {"Zo\xc3\xab \xe2\x9c\x89", "Zo\xc3\xab \xe2\x9c\x89", "Zo\xc3\xab \xe2\x9c\x89",
         "Zo\xc3\xab \xe2\x9c\x89"},
        {"\xc2\x9b"
         "2J\x9b"
         "2J",
         "\\xc2\\x9b2J\\x9b2J", "\\xc2\\x9b2J\\x9b2J", "\\xc2\\x9b2J\\x9b2J"},
        // A code page's letters stay; so does a cut sequence's lead, not its C1-range rest.
        {"caf\xe9 \xe2\x9c \x80", "caf\xe9 \xe2\\x9c \\x80", "caf\xe9 \xe2\\x9c \\x80",
         "caf\xe9 \xe2\\x9c \\x80"},
        // Backslashes stay: a path reads as it is, and escaping twice changes nothing.
        {"C:\\Users\\x1b", "C:\\Users\\x1b", "C:\\Users\\x1b", "C:\\Users\\x1b"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.escaped);
        EXPECT_EQ(EscapeControls(row.text), row.escaped);
        EXPECT_EQ(EscapeControlsInLines(row.text), row.inLines);
        EXPECT_EQ(OneLine(row.text), row.oneLine);
        EXPECT_EQ(EscapeControls(row.escaped), row.escaped);
    }
}

}  // namespace
}  // namespace vantel
