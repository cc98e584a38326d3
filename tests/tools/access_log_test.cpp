// Access log lines in the common and combined formats, as Apache httpd and
// nginx write them, and the lines a replay must refuse.
#include <gtest/gtest.h>

#include "tools/replay/access_log.h"

namespace sentrel::replay {
namespace {

struct Good {
  const char* what;
  std::string line;
  std::string address;
  std::int64_t time;
  std::string method;
  std::string url;
  std::string query;
  std::string protocol;
  int status;
  std::optional<std::string> referer;
  std::optional<std::string> agent;
};

const std::optional<std::string> kAbsent;

class ParsesLine : public ::testing::TestWithParam<Good> {};

TEST_P(ParsesLine, IntoTheRequestsVariables) {
  const Good& g = GetParam();
  AccessLogEntry e;
  std::string reason;
  ASSERT_TRUE(ParseAccessLogLine(g.line, e, reason)) << reason;
  EXPECT_EQ(e.address, g.address);
  EXPECT_EQ(e.time, g.time);
  EXPECT_EQ(e.method, g.method);
  EXPECT_EQ(e.url, g.url);
  EXPECT_EQ(e.queryString, g.query);
  EXPECT_EQ(e.protocol, g.protocol);
  EXPECT_EQ(e.status, g.status);
  EXPECT_EQ(e.referer, g.referer);
  EXPECT_EQ(e.userAgent, g.agent);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ParsesLine,
    ::testing::Values(
        Good{"common", R"L(127.0.0.1 - frank [10/Oct/2000:13:55:36 -0700] "GET /apache_pb.gif HTTP/1.0" 200 2326)L",
             "127.0.0.1", 971211336, "GET", "/apache_pb.gif", "", "HTTP/1.0", 200, kAbsent, kAbsent},
        Good{"combined",
             R"L(127.0.0.1 - frank [10/Oct/2000:13:55:36 -0700] "GET /apache_pb.gif HTTP/1.0" 200 2326 "http://www.example.com/start.html" "Mozilla/4.08 [en] (Win98; I ;Nav)")L",
             "127.0.0.1", 971211336, "GET", "/apache_pb.gif", "", "HTTP/1.0", 200,
             "http://www.example.com/start.html", "Mozilla/4.08 [en] (Win98; I ;Nav)"},
        Good{"nginx default, query string, no referer",
             R"L(192.168.0.1 - - [17/May/2023:08:01:02 +0000] "GET /list?a=1&b=%20x?y HTTP/2.0" 304 0 "-" "curl/8.0")L",
             "192.168.0.1", 1684310462, "GET", "/list", "a=1&b=%20x?y", "HTTP/2.0", 304, kAbsent, "curl/8.0"},
        Good{"Apache escapes a quote and a backslash",
             R"L(10.1.1.1 - - [17/May/2023:08:01:02 +0000] "GET / HTTP/1.1" 200 5 "-" "say \"hi\" \\o/")L",
             "10.1.1.1", 1684310462, "GET", "/", "", "HTTP/1.1", 200, kAbsent, R"L(say "hi" \o/)L"},
        Good{"nginx escapes quotes and code-page bytes as \\xHH",
             R"L(10.1.1.2 - - [17/May/2023:08:01:02 +0000] "GET /\xC4\xE3 HTTP/1.1" 200 5 "-" "a\x22b\xC4\xE3")L",
             "10.1.1.2", 1684310462, "GET", "/\xC4\xE3", "", "HTTP/1.1", 200, kAbsent, "a\"b\xC4\xE3"},
        Good{"a bare quote inside the request belongs to it",
             R"L(10.1.1.3 - - [17/May/2023:08:01:02 +0000] "GET /a"b HTTP/1.1" 404 0)L", "10.1.1.3", 1684310462,
             "GET", "/a\"b", "", "HTTP/1.1", 404, kAbsent, kAbsent},
        Good{"IPv6 client, empty referer kept as present",
             R"L(2001:db8::1 - - [17/May/2023:08:01:02 +0000] "HEAD /x HTTP/1.1" 200 0 "" "-")L", "2001:db8::1",
             1684310462, "HEAD", "/x", "", "HTTP/1.1", 200, std::string(), kAbsent},
        Good{"request line without a protocol", R"L(10.1.1.4 - - [17/May/2023:08:01:02 +0000] "GET /old" 200 9)L",
             "10.1.1.4", 1684310462, "GET", "/old", "", "", 200, kAbsent, kAbsent},
        Good{"dot segments of the path resolved",
             R"L(10.1.1.4 - - [17/May/2023:08:01:02 +0000] "GET /shop/../admin//x?a=../b HTTP/1.1" 200 9)L",
             "10.1.1.4", 1684310462, "GET", "/admin/x", "a=../b", "HTTP/1.1", 200, kAbsent, kAbsent},
        Good{"absolute target of a proxy request",
             R"L(10.1.1.5 - - [17/May/2023:08:01:02 +0000] "GET http://Example.com:8080/p/q?r=1 HTTP/1.1" 200 9)L",
             "10.1.1.5", 1684310462, "GET", "/p/q", "r=1", "HTTP/1.1", 200, kAbsent, kAbsent},
        Good{"path escapes decoded, an escaped zero byte kept",
             R"L(10.1.1.6 - - [17/May/2023:08:01:02 +0000] "GET /a%20b%2fc%00%zz HTTP/1.1" 200 9)L", "10.1.1.6",
             1684310462, "GET", "/a b/c%00%zz", "", "HTTP/1.1", 200, kAbsent, kAbsent},
        Good{"CR LF line end, positive offset, leap day",
             "10.1.1.7 - - [29/Feb/2024:12:00:00 +0530] \"POST /f HTTP/1.1\" 201 - \"-\" \"x\"\r", "10.1.1.7",
             1709188200, "POST", "/f", "", "HTTP/1.1", 201, kAbsent, "x"},
        Good{"extra fields after the combined ones are ignored; status -",
             R"L(10.1.1.8 - - [01/Jan/2000:00:59:59 +0100] "GET / HTTP/1.1" - 0 "-" "ua" "10.9.9.9" 0.004)L",
             "10.1.1.8", 946684799, "GET", "/", "", "HTTP/1.1", 0, kAbsent, "ua"},
        Good{"user name with a blank; a custom field instead of the referer",
             R"L(10.1.1.9 - John Doe [17/May/2023:08:01:02 +0000] "GET / HTTP/1.1" 200 5 1234)L", "10.1.1.9",
             1684310462, "GET", "/", "", "HTTP/1.1", 200, kAbsent, kAbsent}),
    [](const ::testing::TestParamInfo<Good>& info) { return "Case" + std::to_string(info.index); });

struct Bad {
  std::string line;
  std::string reasonHas;
};

class RefusesLine : public ::testing::TestWithParam<Bad> {};

TEST_P(RefusesLine, WithAReason) {
  AccessLogEntry e;
  std::string reason;
  EXPECT_FALSE(ParseAccessLogLine(GetParam().line, e, reason));
  EXPECT_NE(reason.find(GetParam().reasonHas), std::string::npos) << reason;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RefusesLine,
    ::testing::Values(
        Bad{"", "no client address"}, Bad{"just some words", "no [time]"},
        Bad{R"L(1.2.3.4 - - [17/May/2023:08:01:02 +0000 "GET / HTTP/1.1" 200 5)L", "not closed"},
        Bad{R"L(1.2.3.4 - - [17/Mai/2023:08:01:02 +0000] "GET / HTTP/1.1" 200 5)L", "is not like"},
        Bad{R"L(1.2.3.4 - - [30/Feb/2023:08:01:02 +0000] "GET / HTTP/1.1" 200 5)L", "is not like"},
        Bad{R"L(1.2.3.4 - - [17/May/2023:24:01:02 +0000] "GET / HTTP/1.1" 200 5)L", "is not like"},
        Bad{R"L(1.2.3.4 - - [17/May/2023:08:01:02] "GET / HTTP/1.1" 200 5)L", "is not like"},
        Bad{R"L(1.2.3.4 - - [17/May/2023:08:01:02 +0000] GET / HTTP/1.1 200 5)L", "no quoted request"},
        Bad{R"L(1.2.3.4 - - [17/May/2023:08:01:02 +0000] "-" 400 0 "-" "-")L", "is not METHOD URL PROTOCOL"},
        Bad{R"L(1.2.3.4 - - [17/May/2023:08:01:02 +0000] "\x16\x03\x01\x02" 400 0 "-" "-")L",
            "is not METHOD URL PROTOCOL"},
        Bad{R"L(1.2.3.4 - - [17/May/2023:08:01:02 +0000] "GET  HTTP/1.1" 400 0)L", "is not METHOD URL PROTOCOL"},
        Bad{R"L(1.2.3.4 - - [17/May/2023:08:01:02 +0000] "GET / HTTP/1.1)L", "request is not closed"},
        Bad{R"L(1.2.3.4 - - [17/May/2023:08:01:02 +0000] "GET / HTTP/1.1" OK 5)L", "status \"OK\""},
        Bad{R"L(1.2.3.4 - - [17/May/2023:08:01:02 +0000] "GET / HTTP/1.1" 200 5k)L", "size \"5k\""},
        Bad{R"L(1.2.3.4 - - [17/May/2023:08:01:02 +0000] "GET / HTTP/1.1" 200)L", "size \"\""},
        Bad{R"L(1.2.3.4 - - [17/May/2023:08:01:02 +0000] "GET / HTTP/1.1" 200 5 "http://cut)L", "referer is not closed"}),
    [](const ::testing::TestParamInfo<Bad>& info) { return "Case" + std::to_string(info.index); });

TEST(UrlVariable, IsThePathTheServerServes) {
  struct Case {
    const char* raw;
    const char* url;
  };
  for (const Case& c : {Case{"/a/../admin/", "/admin/"}, Case{"//a///b", "/a/b"}, Case{"/a/./b/.", "/a/b/"},
                        Case{"/../../etc/passwd", "/etc/passwd"}, Case{"/..", "/"}, Case{"/", "/"},
                        Case{"/a%2f..%2fb", "/b"}, Case{"/%2e%2e/x", "/x"}, Case{"", "/"}, Case{"*", "*"},
                        Case{"/a..b/c.", "/a..b/c."}}) {
    EXPECT_EQ(UrlVariable(c.raw), c.url) << c.raw;
  }
}

TEST(LogTime, OffsetsTurnIntoUtcAndBack) {
  struct Case {
    const char* text;
    std::int64_t utc;
    std::int32_t offset;
  };
  for (const Case& c : {Case{"10/Oct/2000:13:55:36 -0700", 971211336, -25200},
                        Case{"29/Feb/2024:12:00:00 +0530", 1709188200, 19800},
                        Case{"01/Jan/2000:00:59:59 +0100", 946684799, 3600},
                        Case{"01/Jan/1970:00:00:00 +0000", 0, 0}}) {
    SCOPED_TRACE(c.text);
    std::int64_t utc = -1;
    std::int32_t offset = -1;
    ASSERT_TRUE(ParseLogTime(c.text, utc, offset));
    EXPECT_EQ(utc, c.utc);
    EXPECT_EQ(offset, c.offset);
    EXPECT_EQ(FormatLogTime(utc, offset), c.text);
  }
  EXPECT_EQ(FormatIsoTime(971211336), "2000-10-10T20:55:36Z");
  EXPECT_EQ(FormatIsoTime(1709188200), "2024-02-29T06:30:00Z");
}

TEST(LogTime, MonthNamesAreReadWithoutRegardToCase) {
  std::int64_t utc = 0;
  std::int32_t offset = 0;
  ASSERT_TRUE(ParseLogTime("10/OCT/2000:13:55:36 -0700", utc, offset));
  EXPECT_EQ(utc, 971211336);
}

}  // namespace
}  // namespace sentrel::replay
