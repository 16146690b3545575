#include "platform/store/RegFile.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vantel {

namespace {

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

RegValue Value(std::string name, std::uint32_t type, const std::string& data) {
    return RegValue{std::move(name), type, {data.begin(), data.end()}};
}

RegImage ParseOk(const std::string& text) {
    RegImage image;
    RegFile::ParseError error;
    EXPECT_TRUE(RegFile::Parse(text, image, error)) << error.line << ": " << error.reason;
    return image;
}

void ExpectSameImage(const RegImage& expected, const RegImage& actual) {
    ASSERT_EQ(expected.KeyPaths(), actual.KeyPaths());
    for (const std::string& key : expected.KeyPaths()) {
        const auto want = expected.Values(key);
        const auto got = actual.Values(key);
        ASSERT_EQ(want.size(), got.size()) << key;
        for (std::size_t i = 0; i < want.size(); ++i) {
            EXPECT_EQ(*want[i], *got[i]) << key << " value " << want[i]->name;
        }
    }
}

}  // namespace

TEST(RegFileTest, EveryValueRoundTripsExactly) {
    std::string bin300;
    for (int i = 0; i < 300; ++i) {
        bin300 += static_cast<char>(i);
    }
    RegImage image;
    const char* key = "HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\Settings";
    for (const RegValue& value : {
             Value("Plain", kRegSz, "hello world"),
             Value("Quote \"and\" \\slash", kRegSz, "C:\\dir\\ \"q\" \\\\ \\"),
             Value("Utf8", kRegSz,
                   "Gr\xC3\xBC\xC3\x9F"
                   "e \xE2\x82\xAC \xF0\x9F\x98\x80"),
             Value("Controls", kRegSz, "line1\r\nline2\ttab\x01\x1F end"),
             Value("EmbeddedNul", kRegSz, std::string("a\0b\0", 4)),
             Value("Latin1", kRegSz, "caf\xE9\t"),
             Value("Empty", kRegSz, ""),
             Value("", kRegSz, "the default"),
             Value("Bin0", kRegBinary, ""),
             Value("Bin1", kRegBinary, "B"),
             Value("Bin300", kRegBinary, bin300),
             Value("Dword", kRegDword, std::string("\x1F\x00\x00\x80", 4)),
             Value("ShortDword", kRegDword, "abc"),
             Value("Expand", 2, std::string("%\0P\0%\0\0\0", 8)),
             Value("Huge type", 0xFFFF0000u, "xyz"),
         }) {
        ASSERT_TRUE(image.SetValue(key, value));
    }
    ASSERT_TRUE(image.CreateKey("HKEY_LOCAL_MACHINE\\Empty leaf"));
    ASSERT_TRUE(image.SetValue("HKEY_LOCAL_MACHINE\\A", Value("x", kRegSz, "y")));

    const std::string text = RegFile::Format(image);
    const RegImage reread = ParseOk(text);
    ExpectSameImage(image, reread);
    EXPECT_EQ(RegFile::Format(reread), text);
}

TEST(RegFileTest, WritesTheLayoutRegeditWrites) {
    RegImage image;
    ASSERT_TRUE(image.SetValue("HKEY_CURRENT_USER\\B\\Sub", Value("S", kRegSz, "a\"b")));
    ASSERT_TRUE(image.SetValue("HKEY_CURRENT_USER\\b",
                               Value("D", kRegDword, std::string("\x1F\x01\x00\x00", 4))));
    ASSERT_TRUE(image.SetValue("HKEY_CURRENT_USER\\b", Value("", kRegSz, "x\ny")));
    ASSERT_TRUE(image.SetValue("HKEY_CURRENT_USER\\B", Value("M", 7, "A")));
    EXPECT_EQ(RegFile::Format(image), kHeader +
                                          "[HKEY_CURRENT_USER\\B]\r\n"
                                          "\"D\"=dword:0000011f\r\n"
                                          "@=hex(1):78,00,0a,00,79,00,00,00\r\n"
                                          "\"M\"=hex(7):41\r\n"
                                          "\r\n"
                                          "[HKEY_CURRENT_USER\\B\\Sub]\r\n"
                                          "\"S\"=\"a\\\"b\"\r\n"
                                          "\r\n");

    RegImage wide;
    ASSERT_TRUE(wide.SetValue("K", Value("Blob", kRegBinary, std::string(300, '\xAB'))));
    const std::string text = RegFile::Format(wide);
    EXPECT_EQ(text.substr(kHeader.size(), 22), "[K]\r\n\"Blob\"=hex:ab,ab,");
    for (std::size_t start = 0, end = 0; end != std::string::npos; start = end + 2) {
        end = text.find("\r\n", start);
        EXPECT_LE(std::min(end, text.size()) - start, 80u) << text.substr(start, 90);
    }
    EXPECT_NE(text.find(",\\\r\n  ab,"), std::string::npos);
}

TEST(RegFileTest, TextThatIsNotUtf8IsWrittenAsLatin1WhenItNeedsHex) {
    RegImage image;
    ASSERT_TRUE(image.SetValue("K", Value("v", kRegSz, "\xE9\n")));
    EXPECT_NE(RegFile::Format(image).find("\"v\"=hex(1):e9,00,0a,00,00,00\r\n"), std::string::npos);
    EXPECT_EQ(ParseOk(RegFile::Format(image)).FindValue("K", "v")->data,
              (std::vector<std::uint8_t>{0xC3, 0xA9, '\n'}));
}

TEST(RegFileTest, ReadsUtf16LittleEndianWithBom) {
    const std::u16string text =
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n"
        u"\"Name\"=\"Gr\u00FC\u00DFe \u20AC \U0001F600\"\r\n\"Multi\"=hex(1):41,00,0a,00,00,00\r\n";
    std::string bytes = "\xFF\xFE";
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    const RegImage image = ParseOk(bytes);
    EXPECT_EQ(*image.FindValue("HKEY_CURRENT_USER\\K", "Name"),
              Value("Name", kRegSz,
                    "Gr\xC3\xBC\xC3\x9F"
                    "e \xE2\x82\xAC \xF0\x9F\x98\x80"));
    EXPECT_EQ(*image.FindValue("HKEY_CURRENT_USER\\K", "Multi"), Value("Multi", kRegSz, "A\n"));
}

TEST(RegFileTest, AcceptsWhatHandsAndOtherToolsWrite) {
    const RegImage image = ParseOk(
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00  \n"
        "; a comment\n\n"
        "  [HKEY_CURRENT_USER\\K]  \n"
        "\t\"Spaced\" = \"a\\nb\\r\\\\\"  ; trailing comment\n"
        "\"Hex\"=hex:01, 02,\\\n"
        "   03,\\\r\n"
        "\t\\\n"
        "  04\n"
        "\"Type\"=HEX(b):\\\n"
        "  ff\n"
        "\"Dw\"=DWORD:Ab\n"
        "\"Gone\"=\"x\"\n"
        "\"gone\"=-\n");
    const char* key = "HKEY_CURRENT_USER\\K";
    EXPECT_EQ(image.FindValue(key, "spaced")->data,
              (std::vector<std::uint8_t>{'a', '\n', 'b', '\r', '\\'}));
    EXPECT_EQ(image.FindValue(key, "Hex")->data, (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(*image.FindValue(key, "Type"), (RegValue{"Type", 0xB, {0xFF}}));
    EXPECT_EQ(image.FindValue(key, "Dw")->data, (std::vector<std::uint8_t>{0xAB, 0, 0, 0}));
    EXPECT_EQ(image.FindValue(key, "Gone"), nullptr);

    const RegImage ansi = ParseOk("REGEDIT4\r\n\r\n[K]\r\n\"S\"=hex(1):41,42,00\r\n");
    EXPECT_EQ(*ansi.FindValue("K", "S"), Value("S", kRegSz, "AB"));
}

TEST(RegFileTest, DeletionLinesRemoveSubtreesAndValues) {
    const RegImage image =
        ParseOk(kHeader +
                "[A\\B\\C]\r\n\"v\"=\"1\"\r\n[A\\BC]\r\n[A B]\r\n"
                "[-a\\b]\r\n[-Absent]\r\n[A B]\r\n\"w\"=\"2\"\r\n\"Absent\"=-\r\n");
    EXPECT_EQ(image.KeyPaths(), (std::vector<std::string>{"A", "A\\BC", "A B"}));
    EXPECT_NE(image.FindValue("A B", "w"), nullptr);
}

TEST(RegFileTest, MalformedInputNamesTheLine) {
    struct Case {
        std::string text;
        std::size_t line;
    };
    const std::string key = kHeader + "[K]\r\n";  // values start on line 4
    for (const Case& c : std::vector<Case>{
             {"", 1},
             {"Windows Registry Editor Version 4.00\r\n", 1},
             {"\xFE\xFFWindows", 1},
             {std::string("\xFF\xFEW\0\n\0x", 7), 2},
             {kHeader + "\"v\"=\"outside\"\r\n", 3},
             {key + "[-K]\r\n\"v\"=\"after delete\"\r\n", 5},
             {key + "[K\r\n", 4},
             {key + "[K\\\\L]\r\n", 4},
             {key + "hello\r\n", 4},
             {key + "\"v\"=\"unterminated\r\n", 4},
             {key + "\"v\"=\"bad \\t escape\"\r\n", 4},
             {key + "\"v\"=\"ends in \\", 4},
             {key + "\"v\"=\"x\" junk\r\n", 4},
             {key + "\"unterminated=\"x\"\r\n", 4},
             {key + "\"v\" \"x\"\r\n", 4},
             {key + "\"v\"=\r\n", 4},
             {key + "\"v\"=-x\r\n", 4},
             {key + "\"v\"=dword:\r\n", 4},
             {key + "\"v\"=dword:123456789\r\n", 4},
             {key + "\"v\"=dword:12g\r\n", 4},
             {key + "\"v\"=hex(zz):00\r\n", 4},
             {key + "\"v\"=hex:1,02\r\n", 4},
             {key + "\"v\"=hex:012\r\n", 4},
             {key + "\"v\"=hex:0g\r\n", 4},
             {key + "\"v\"=hex:01,\r\n", 4},
             {key + "\"v\"=hex:01\\\r\n02\r\n", 4},
             {key + "\"ok\"=\"1\"\r\n\"v\"=hex:01,\\\r\n  02,\\\r\n", 6},
             {key + "\"v\"=hex:01,\\\r\n\r\n\"w\"=\"x\"\r\n", 5},
             {key + "\"v\"=hex:01,\\ x\r\n", 4},
             {key + "\"v\"=hex(1):41\r\n", 4},
             {key + "\"v\"=\"a\"\r\n\"w\"=\"b" + std::string(1, '\0') + "\"\r\n", 5},
         }) {
        RegImage image;
        RegFile::ParseError error;
        EXPECT_FALSE(RegFile::Parse(c.text, image, error)) << c.text;
        EXPECT_EQ(error.line, c.line) << c.text << " -> " << error.reason;
        EXPECT_FALSE(error.reason.empty());
    }
}

TEST(RegFileTest, BinaryJunkIsRejectedWithoutHarm) {
    std::mt19937 random(20240611);
    for (int round = 0; round < 20; ++round) {
        std::string junk(16 * 1024, '\0');
        for (char& c : junk) {
            c = static_cast<char>(random());
        }
        for (const std::string& text : {junk, kHeader + "[K]\r\n" + junk}) {
            RegImage image;
            RegFile::ParseError error;
            EXPECT_FALSE(RegFile::Parse(text, image, error));
            EXPECT_GE(error.line, 1u);
        }
    }
}

TEST(RegFileTest, LargeValuesAndFilesParseWhole) {
    RegImage image;
    ASSERT_TRUE(image.SetValue("K", Value("Text", kRegSz, std::string(100 * 1024, 'q'))));
    ASSERT_TRUE(image.SetValue("K", Value("Blob", kRegBinary, std::string(100 * 1024, '\x5A'))));
    ExpectSameImage(image, ParseOk(RegFile::Format(image)));

    // Many keys with long values, and one key whose many values are all deleted again.
    std::string text = kHeader;
    for (int i = 0; i < 5000; ++i) {
        text += "[HKEY_CURRENT_USER\\Big\\Key" + std::to_string(i) + "]\r\n\"Value\"=\"" +
                std::string(500, 'v') + "\"\r\n";
    }
    text += "[HKEY_CURRENT_USER\\Many]\r\n";
    for (int i = 0; i < 10000; ++i) {
        text += "\"V" + std::to_string(i) + "\"=dword:00000001\r\n";
    }
    for (int i = 0; i < 10000; ++i) {
        text += "\"v" + std::to_string(i) + "\"=-\r\n";
    }
    ASSERT_GT(text.size(), 2'500'000u);
    const RegImage big = ParseOk(text);
    EXPECT_EQ(big.KeyPaths().size(), 5003u);
    EXPECT_TRUE(big.Values("HKEY_CURRENT_USER\\Many").empty());
}

}  // namespace vantel
