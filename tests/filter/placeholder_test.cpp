// The per-request variable cache and the expansion of log templates.
#include <gtest/gtest.h>

#include "filter/core/server_variables.h"
#include "hosts/testhost/test_host.h"
#include "platform/codepage.h"

namespace sentrel {
namespace {

class Placeholders : public ::testing::Test {
 protected:
  platform::FakeClock clock{1700000000 - 22 * 3600 - 13 * 60 - 20 + 14 * 3600 + 3 * 60 + 9};  // 14:03:09 UTC
  testhost::TestRequest request{std::map<std::string, std::string>{
      {"REMOTE_ADDR", "10.0.0.7"}, {"HTTP_HOST", "Example.org"}, {"HTTP_X_EMPTY", ""},
      {"HTTP_X_LONG", std::string(1024, 'x')}, {"HTTP_X_FIT", std::string(1023, 'y')}}};
  ServerVariableCache cache;

  std::string Expand(std::string text) {
    PlaceholderExpander(request.Context(), text, cache, clock);
    return text;
  }
};

TEST_F(Placeholders, Table) {
  const std::string date = clock.FormatNow("%Y-%m-%d");
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"at {time} from {S(REMOTE_ADDR)}", "AT 14:03:09 FROM 10.0.0.7"},
      {"{s(http_host)}", "Example.org"},  // the value keeps its case
      {"[{S(HTTP_X_MISSING)}]", "[Null]"},
      {"[{S(HTTP_HOST}]", "[Null]"},  // closing parenthesis missing
      {"[{S()}]", "[Null]"},
      {"{FOO}", "Null"},
      {"{}", "Null"},
      {"{DATE}{DATE}", date + date},
      {"{date} {Time}", date + " 14:03:09"},
      {"open { only", "OPEN { ONLY"},
      {"close } only", "CLOSE } ONLY"},
      {"[{S(HTTP_X_EMPTY)}]", "[]"},
      {"{S(HTTP_X_LONG)}", "Null"},  // 1024 bytes and the terminator do not fit
      {"{S(HTTP_X_FIT)}", std::string(1023, 'y')},
      {"a{b{TIME}c}d", "ANullC}D"},  // the first "{" to the first "}"
      {"x}y{TIME}", "X}Y14:03:09"},  // a "}" before the first "{" is passed over
  };
  for (const auto& c : cases) EXPECT_EQ(Expand(c.in), c.out) << c.in;
}

TEST_F(Placeholders, EmptyTextStaysEmpty) {
  std::string text;
  EXPECT_FALSE(PlaceholderExpander(request.Context(), text, cache, clock));
  EXPECT_EQ(text, "");
}

TEST_F(Placeholders, DoubleByteCharactersAreNotChangedByUpperCasing) {
  const std::string chinese = platform::Utf8ToCodePage("访问");  // trail bytes include letters
  EXPECT_EQ(Expand(chinese + "{time}"), chinese + "14:03:09");
}

TEST_F(Placeholders, EachVariableIsAskedOnceAndSharedWithRules) {
  Expand("{S(HTTP_HOST)} {S(HTTP_HOST)} {s(http_host)}");
  EXPECT_EQ(request.LookupsOf("HTTP_HOST"), 1);
  std::string value;
  EXPECT_TRUE(ReadServerVariable(request.Context(), value, "HTTP_HOST", cache));
  EXPECT_EQ(value, "Example.org");
  EXPECT_EQ(request.LookupsOf("HTTP_HOST"), 1);
  // Failed lookups are not cached: each use asks again.
  Expand("{S(HTTP_NOPE)}");
  EXPECT_FALSE(ReadServerVariable(request.Context(), value, "HTTP_NOPE", cache));
  EXPECT_EQ(request.LookupsOf("HTTP_NOPE"), 2);
  EXPECT_EQ(value, "Example.org");  // untouched on failure
}

// The longest template a module can hold (1023 bytes), made of placeholders
// for the longest value that fits, expands whole: the bound that stops
// runaway expansion lies above every ordinary result.
TEST_F(Placeholders, LongestTemplateOfLongestValuesExpandsWhole) {
  std::string text;
  while (text.size() + 15 <= 1023) text += "{S(HTTP_X_FIT)}";
  const std::size_t tokens = text.size() / 15;
  ASSERT_EQ(tokens, 68u);
  std::string expanded = Expand(text);
  EXPECT_EQ(expanded.size(), tokens * 1023);
  EXPECT_EQ(expanded.find_first_not_of('y'), std::string::npos);
  // The same holds for the shortest placeholder, a one-letter variable.
  request.Variables()["A"] = std::string(1023, 'a');
  text.clear();
  while (text.size() + 6 <= 1023) text += "{S(A)}";
  expanded = Expand(text);
  EXPECT_EQ(expanded.size(), 170u * 1023u);
  EXPECT_EQ(expanded.find_first_not_of('a'), std::string::npos);
}

// Values that hold tokens themselves cannot make the expansion run away.
TEST_F(Placeholders, SelfReproducingValuesEnd) {
  request.Variables()["HTTP_X_SELF"] = "{S(HTTP_X_SELF)}";
  EXPECT_EQ(Expand("{S(HTTP_X_SELF)}"), "{S(HTTP_X_SELF)}");
  request.Variables()["HTTP_X_GROW"] = "{S(HTTP_X_GROW)}{S(HTTP_X_GROW)}";
  cache = ServerVariableCache();
  std::string grown = Expand("{S(HTTP_X_GROW)}");
  EXPECT_LE(grown.size(), kMaxExpandedLength);
  request.Variables()["HTTP_X_TIME"] = "{TIME}";  // inserted tokens are expanded like the text's
  EXPECT_EQ(Expand("{S(HTTP_X_TIME)}"), "14:03:09");
}

}  // namespace
}  // namespace sentrel
