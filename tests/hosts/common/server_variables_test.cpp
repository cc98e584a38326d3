#include "hosts/common/filter_answers.h"
#include "hosts/common/server_variables.h"
#include "hosts/common/url_path.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace sentrel::hosts {
namespace {

TEST(ResolveVariable, FixedNamesWithoutRegardToCase) {
  struct Case {
    const char* name;
    Variable kind;
  };
  const Case cases[] = {
      {"REMOTE_ADDR", Variable::RemoteAddr},   {"remote_addr", Variable::RemoteAddr},
      {"URL", Variable::Url},                  {"Query_String", Variable::QueryString},
      {"REQUEST_METHOD", Variable::RequestMethod}, {"SERVER_PROTOCOL", Variable::ServerProtocol},
      {"SERVER_NAME", Variable::ServerName},   {"SERVER_PORT", Variable::ServerPort},
      {"HTTPS", Variable::Https},              {"REMOTE_PORT", Variable::RemotePort},
      {"LOCAL_ADDR", Variable::LocalAddr},     {"CONTENT_TYPE", Variable::ContentType},
      {"CONTENT_LENGTH", Variable::ContentLength}, {"ALL_HTTP", Variable::AllHttp},
  };
  for (const Case& c : cases) {
    VariableName v;
    ASSERT_TRUE(ResolveVariable(c.name, v)) << c.name;
    EXPECT_EQ(v.kind, c.kind) << c.name;
    EXPECT_TRUE(v.header.empty()) << c.name;
  }
}

TEST(ResolveVariable, HeaderVariablesNameTheHeaderWithDashes) {
  struct Case {
    const char* name;
    const char* header;
  };
  const Case cases[] = {
      {"HTTP_USER_AGENT", "USER-AGENT"},
      {"http_accept_language", "accept-language"},
      {"HTTP_X_FORWARDED_FOR", "X-FORWARDED-FOR"},
      {"HTTP_HOST", "HOST"},
  };
  for (const Case& c : cases) {
    VariableName v;
    ASSERT_TRUE(ResolveVariable(c.name, v)) << c.name;
    EXPECT_EQ(v.kind, Variable::Header);
    EXPECT_EQ(v.header, c.header);
  }
}

TEST(ResolveVariable, RejectsUnknownAndMalformedNames) {
  for (const char* name : {"", "HTTP_", "REMOTE_ADDRESS", "HTTP_USER AGENT", "HTTP_A:B",
                           "X_HTTP_HOST", "HTTP_\xc4\xe3"}) {
    VariableName v;
    EXPECT_FALSE(ResolveVariable(name, v)) << name;
    EXPECT_EQ(v.kind, Variable::Unknown);
  }
}

TEST(HeaderVariableName, UpperCasesAndTurnsDashesIntoUnderscores) {
  std::string out;
  ASSERT_TRUE(HeaderVariableName("User-Agent", out));
  EXPECT_EQ(out, "HTTP_USER_AGENT");
  ASSERT_TRUE(HeaderVariableName("x-request-id2", out));
  EXPECT_EQ(out, "HTTP_X_REQUEST_ID2");
  // A header spelled with an underscore must not pose as another one.
  EXPECT_FALSE(HeaderVariableName("User_Agent", out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(HeaderVariableName("", out));
  EXPECT_FALSE(HeaderVariableName("Bad Header", out));
}

TEST(AppendAllHttpLine, FormatsNameColonValueLinesAndSkipsUnnamedHeaders) {
  std::string all;
  AppendAllHttpLine(all, "Host", "example.org");
  AppendAllHttpLine(all, "User_Agent", "spoof");
  AppendAllHttpLine(all, "Accept-Language", "zh-CN, en");
  AppendAllHttpLine(all, "X-Empty", "");
  EXPECT_EQ(all, "HTTP_HOST:example.org\nHTTP_ACCEPT_LANGUAGE:zh-CN, en\nHTTP_X_EMPTY:\n");
}

TEST(CopyVariableValue, ValueAndTerminatorMustFit) {
  char buffer[8];
  std::memset(buffer, '#', sizeof buffer);

  DWORD size = 6;  // "abcdef" needs 7
  EXPECT_EQ(CopyVariableValue("abcdef", buffer, &size), CopyResult::BufferTooSmall);
  EXPECT_EQ(size, 7u);
  EXPECT_EQ(buffer[0], '#') << "nothing is copied when the value does not fit";

  size = 7;
  EXPECT_EQ(CopyVariableValue("abcdef", buffer, &size), CopyResult::Copied);
  EXPECT_EQ(size, 7u);
  EXPECT_STREQ(buffer, "abcdef");

  size = 8;
  EXPECT_EQ(CopyVariableValue("", buffer, &size), CopyResult::Copied);
  EXPECT_EQ(size, 1u);
  EXPECT_STREQ(buffer, "");
}

TEST(CopyVariableValue, NullBufferReportsTheSizeNeeded) {
  DWORD size = 100;
  EXPECT_EQ(CopyVariableValue("value", nullptr, &size), CopyResult::BufferTooSmall);
  EXPECT_EQ(size, 6u);
  EXPECT_EQ(CopyVariableValue("value", nullptr, nullptr), CopyResult::InvalidArgument);
}

TEST(CopyVariableValue, AValueOf1024BytesNeverFitsA1024ByteBuffer) {
  std::string value(1024, 'x');
  std::string buffer(1024, '\0');
  DWORD size = 1024;
  EXPECT_EQ(CopyVariableValue(value, buffer.data(), &size), CopyResult::BufferTooSmall);
  EXPECT_EQ(size, 1025u);
  value.pop_back();
  size = 1024;
  EXPECT_EQ(CopyVariableValue(value, buffer.data(), &size), CopyResult::Copied);
  EXPECT_EQ(size, 1024u);
}

TEST(DecodeUrlPath, DecodesValidEscapesOnly) {
  struct Case {
    const char* raw;
    std::string decoded;
  };
  const Case cases[] = {
      {"/plain/path.html", "/plain/path.html"},
      {"/a%20b", "/a b"},
      {"/%43ode.bmp", "/Code.bmp"},
      {"/%c4%e3", "/\xc4\xe3"},
      {"/bad%zzescape", "/bad%zzescape"},
      {"/trailing%4", "/trailing%4"},
      {"/trailing%", "/trailing%"},
      {"/nul%00byte", "/nul%00byte"},
      {"/%2e%2e/x", "/../x"},
  };
  for (const Case& c : cases) EXPECT_EQ(DecodeUrlPath(c.raw), c.decoded) << c.raw;
}

TEST(NormalizeUrlPath, ResolvesDotSegmentsAndRepeatedSlashes) {
  struct Case {
    const char* path;
    const char* normalized;
  };
  const Case cases[] = {
      {"/", "/"},
      {"/index.html", "/index.html"},
      {"/admin/", "/admin/"},
      {"/catalog/../admin/", "/admin/"},
      {"/catalog/..", "/"},
      {"/a/./b", "/a/b"},
      {"/a/.", "/a/"},
      {"//admin//panel", "/admin/panel"},
      {"/../../etc/passwd", "/etc/passwd"},
      {"/a/b/../../c/", "/c/"},
      {"/..hidden/x", "/..hidden/x"},
      {"/Code.bmp", "/Code.bmp"},
      {"*", "*"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(NormalizeUrlPath(c.path), c.normalized) << c.path;
}

TEST(UrlVariable, DecodesBeforeResolvingSegments) {
  EXPECT_EQ(UrlVariable("/catalog/%2e%2e/admin/"), "/admin/");
  EXPECT_EQ(UrlVariable("/%61dmin"), "/admin");
  EXPECT_EQ(UrlVariable("/a%20b/c"), "/a b/c");
}

TEST(ParseStatusText, AcceptsCodeAndReason) {
  struct Case {
    const char* text;
    int code;
    const char* line;
  };
  const Case cases[] = {
      {"404 Object Not Found", 404, "404 Object Not Found"},
      {"403 Forbidden", 403, "403 Forbidden"},
      {"200", 200, "200"},
      {" 418 I'm a teapot\r\n", 418, "418 I'm a teapot"},
      {nullptr, 200, "200 OK"},
      {"", 200, "200 OK"},
  };
  for (const Case& c : cases) {
    StatusText status;
    ASSERT_TRUE(ParseStatusText(c.text, status)) << (c.text ? c.text : "(null)");
    EXPECT_EQ(status.code, c.code);
    EXPECT_EQ(status.line, c.line);
  }
}

TEST(ParseStatusText, RejectsTextsWithoutAThreeDigitCode) {
  for (const char* text : {"Forbidden", "40 Short", "4044 Long", "099 Low", "404\tTab",
                           "404 Split\r\nX-Injected: 1"}) {
    StatusText status;
    EXPECT_FALSE(ParseStatusText(text, status)) << text;
  }
}

TEST(ParseHeaderLines, SplitsNameAndValueAndStopsAtTheBlankLine) {
  auto headers = ParseHeaderLines(
      "Content-Type: text/html\r\nX-One:1\nbroken line\r\n: no name\r\nX-Two:  two  \r\n\r\n"
      "X-After: ignored\r\n");
  ASSERT_EQ(headers.size(), 3u);
  EXPECT_EQ(headers[0], std::make_pair(std::string("Content-Type"), std::string("text/html")));
  EXPECT_EQ(headers[1], std::make_pair(std::string("X-One"), std::string("1")));
  EXPECT_EQ(headers[2], std::make_pair(std::string("X-Two"), std::string("two")));
  EXPECT_TRUE(ParseHeaderLines(nullptr).empty());
  EXPECT_TRUE(ParseHeaderLines("").empty());
}

TEST(ClassifyStatus, MapsTheFilterStatusCodes) {
  EXPECT_EQ(ClassifyStatus(SF_STATUS_REQ_FINISHED), Outcome::Finished);
  EXPECT_EQ(ClassifyStatus(SF_STATUS_REQ_FINISHED_KEEP_CONN), Outcome::Finished);
  EXPECT_EQ(ClassifyStatus(SF_STATUS_REQ_NEXT_NOTIFICATION), Outcome::Continue);
  EXPECT_EQ(ClassifyStatus(SF_STATUS_REQ_HANDLED_NOTIFICATION), Outcome::Continue);
  EXPECT_EQ(ClassifyStatus(SF_STATUS_REQ_READ_NEXT), Outcome::Continue);
  EXPECT_EQ(ClassifyStatus(SF_STATUS_REQ_ERROR), Outcome::Error);
  EXPECT_EQ(ClassifyStatus(0), Outcome::Continue);
}

TEST(WantsNotification, FollowsTheRegisteredFlagsAndPortKinds) {
  const DWORD filterFlags = 0x00045100;  // medium order, preproc, URL map, end of session
  EXPECT_TRUE(WantsNotification(filterFlags, SF_NOTIFY_URL_MAP, false));
  EXPECT_TRUE(WantsNotification(filterFlags, SF_NOTIFY_URL_MAP, true));
  EXPECT_TRUE(WantsNotification(filterFlags, SF_NOTIFY_END_OF_NET_SESSION, false));
  EXPECT_FALSE(WantsNotification(filterFlags, SF_NOTIFY_LOG, false));
  const DWORD plainOnly = SF_NOTIFY_URL_MAP | SF_NOTIFY_NONSECURE_PORT;
  EXPECT_TRUE(WantsNotification(plainOnly, SF_NOTIFY_URL_MAP, false));
  EXPECT_FALSE(WantsNotification(plainOnly, SF_NOTIFY_URL_MAP, true));
}

}  // namespace
}  // namespace sentrel::hosts
