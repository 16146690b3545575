#include "core/oauth/JsonObject.h"

#include <gtest/gtest.h>

#include <limits>

#include "core/oauth/FormEncoding.h"

namespace vantel {
namespace {

TEST(JsonObjectTest, ReadsTopLevelMembersAndNumbersInEveryForm) {
    std::string error;
    const auto object = JsonObject::Parse(
        R"({"s":"x","n":3599,"t":"3599","f":12.9,"big":1e300,"huge":18446744073709551615,)"
        R"("neg":"-5","bad":"35s","b":true,"z":null,"o":{"s":"inner","d":[[1]]},"a":[1]})",
        error);
    ASSERT_TRUE(object) << error;
    EXPECT_EQ(object->String("s"), "x");
    EXPECT_FALSE(object->String("n"));
    EXPECT_EQ(object->Integer("n"), 3599);
    EXPECT_EQ(object->Integer("t"), 3599);
    EXPECT_EQ(object->Integer("f"), 12);
    EXPECT_EQ(object->Integer("big"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(object->Integer("huge"), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(object->Integer("neg"), -5);
    EXPECT_FALSE(object->Integer("bad"));
    EXPECT_FALSE(object->Integer("b"));
    EXPECT_EQ(object->Bool("b"), true);
    EXPECT_TRUE(object->Has("z"));
    EXPECT_TRUE(object->Has("o"));
    EXPECT_FALSE(object->String("o"));  // nested members are not taken for top-level ones
    EXPECT_FALSE(object->Has("d"));
    EXPECT_EQ(JsonObject::Parse(R"({"t":"99999999999999999999999"})", error)->Integer("t"),
              std::numeric_limits<std::int64_t>::max());
}

TEST(JsonObjectTest, RefusesWhatIsNotOneObject) {
    for (const std::string& text :
         {std::string(""), std::string("[]"), std::string("\"s\""), std::string("3"),
          std::string("{"), std::string("{\"a\":1}x"), std::string("{\"a\":1,\"a\":1}"),
          std::string("<html><body>502</body></html>"), std::string("{\"a\":\"\xff\"}"),
          std::string(40, '[') + std::string(40, ']'),
          "{\"a\":" + std::string(40, '{') + std::string(40, '}') + "}",
          std::string(JsonObject::kMaxText + 1, ' ')}) {
        std::string error;
        EXPECT_FALSE(JsonObject::Parse(text, error)) << text.substr(0, 40);
        EXPECT_FALSE(error.empty());
    }
}

TEST(JsonObjectTest, DumpReadsBackAndSurvivesBrokenText) {
    JsonObject object;
    object.Set("s", std::string("a\"b\n"));
    object.Set("n", std::int64_t{-7});
    object.Set("b", false);
    object.Set("bad", std::string("\xff\xfe"));
    std::string error;
    const auto back = JsonObject::Parse(object.Dump(), error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->String("s"), "a\"b\n");
    EXPECT_EQ(back->Integer("n"), -7);
    EXPECT_EQ(back->Bool("b"), false);
    EXPECT_TRUE(back->String("bad"));
}

TEST(FormEncodingTest, EncodesAllButUnreservedAndDecodesStrictly) {
    EXPECT_EQ(FormEncode({{"a b", "x=y&z"}, {"k", "-._~\xc3\xa9"}}),
              "a%20b=x%3Dy%26z&k=-._~%C3%A9");
    const std::pair<const char*, const char*> good[] = {
        {"a+b%20c", "a b c"}, {"%2f%2F", "//"}, {"", ""}, {"%41", "A"}};
    for (const auto& [in, out] : good) {
        EXPECT_EQ(PercentDecode(in), std::string(out)) << in;
    }
    EXPECT_EQ(PercentDecode("%00"), std::string(1, '\0'));
    for (const char* bad : {"%", "%2", "a%g0", "%%41"}) {
        EXPECT_FALSE(PercentDecode(bad)) << bad;
    }
}

}  // namespace
}  // namespace vantel
