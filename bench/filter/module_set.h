// The realistic module set of the filter benchmarks: 8 modules of 2-3 steps,
// log only (no client is ever put on hold), with rules on the user agent,
// URL, query string and referrer, and the request variables they look at.
#pragma once

#include <map>
#include <random>
#include <string>
#include <vector>

#include "tests/support/filter_under_test.h"

namespace sentrel::bench {

inline test::ModuleText LogOnlyModule(const std::string& name,
                                      std::vector<std::vector<test::ModuleText::RuleText>> steps,
                                      const std::string& setp = "0") {
  test::ModuleText m;
  m.name = name;
  m.setp = setp;
  m.execute = "1";  // log only: no client is ever put on hold
  m.dateline = "600";
  for (auto& rules : steps) {
    test::ModuleText::StepText s;
    s.times = "3-50";
    s.rules = std::move(rules);
    m.steps.push_back(s);
  }
  return m;
}

// Writes the eight module files into the settings folder.
inline void WriteModuleSet(const test::SettingsFolder& folder) {
  folder.AddModule("bots.ini", LogOnlyModule("bots", {{{"HTTP_USER_AGENT", "1", "(bot)|(spider)|(crawl)"}},
                                                     {{"URL", "1", "\\.xml$"}}}));
  folder.AddModule("tools.ini", LogOnlyModule("tools", {{{"HTTP_USER_AGENT", "1", "^(curl)|(wget)|(python)"}},
                                                       {{"URL", "1", "^/api/"}},
                                                       {{"QUERY_STRING", "1", "page=\\z"}}}));
  folder.AddModule("sqli.ini", LogOnlyModule("sqli", {{{"QUERY_STRING", "1", "union.+select"}},
                                                     {{"QUERY_STRING", "1", "(--)|(%27)"}}}));
  folder.AddModule("wp.ini", LogOnlyModule("wp", {{{"URL", "1", "^/wp-(login)|(admin)"}},
                                                 {{"REQUEST_METHOD", "1", "post"}}}));
  folder.AddModule("noref.ini",
                   LogOnlyModule("noref", {{{"HTTP_REFERER", "1", ""}, {"URL", "1", "\\.(jpg)|(png)$"}},
                                           {{"HTTP_REFERER", "1", ""}}},
                                 "1-500"));
  folder.AddModule("deep.ini", LogOnlyModule("deep", {{{"URL", "1", "/\\w+/\\w+/\\w+/\\w+/"}},
                                                     {{"QUERY_STRING", "1", "[&;]id=\\d\\d\\d\\d"}},
                                                     {{"HTTP_USER_AGENT", "0", "mozilla"}}}));
  folder.AddModule("scan.ini", LogOnlyModule("scan", {{{"URL", "1", "(\\.env)|(\\.git/)|(phpinfo)"}},
                                                     {{"URL", "1", "\\.php$"}}}));
  folder.AddModule("lang.ini", LogOnlyModule("lang", {{{"HTTP_ACCEPT_LANGUAGE", "0", "[a-z][a-z]"}},
                                                     {{"HTTP_USER_AGENT", "1", "compatible"}}}));
}

// The variables of one request picked at random from a small mix of agents,
// URLs and queries, without REMOTE_ADDR.
inline std::map<std::string, std::string> RandomRequestVariables(std::mt19937& rng) {
  static const char* const agents[] = {
      "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) Chrome/120.0 Safari/537.36",
      "Mozilla/5.0 (iPhone; CPU iPhone OS 17_1 like Mac OS X) AppleWebKit/605.1.15 (KHTML, like Gecko) Mobile/15E148",
      "Mozilla/5.0 (compatible; ExampleBot/2.1; +http://www.example.com/bot.html)",
      "curl/8.4.0"};
  static const char* const urls[] = {"/", "/products/shoes/running/men/size-42/index.html", "/wp-login.php",
                                     "/images/banner.jpg", "/api/v1/items", "/sitemap.xml"};
  static const char* const queries[] = {"", "page=3&sort=price&order=asc&utm_source=newsletter&utm_medium=email",
                                        "id=1234&ref=home", "q=union+all+select+password+from+users--"};
  std::map<std::string, std::string> v{{"HTTP_USER_AGENT", agents[rng() % 4]},
                                       {"URL", urls[rng() % 6]},
                                       {"QUERY_STRING", queries[rng() % 4]},
                                       {"REQUEST_METHOD", "GET"},
                                       {"HTTP_ACCEPT_LANGUAGE", "en-US,en;q=0.9"}};
  if (rng() % 3) v["HTTP_REFERER"] = "https://www.example.org/products/shoes?from=search";
  return v;
}

// The address of the i-th of the benchmarks' clients: 10.0.0.1 onwards.
inline std::string ClientAddress(int i) {
  return "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." +
         std::to_string(i % 256 + (i % 256 == 0));
}

}  // namespace sentrel::bench
