// The crawler list ("Crawlers.txt" in the settings folder): which user agents
// claim to be a search engine's crawler, and under which DNS domains that
// crawler's addresses are named. One crawler per line, NAME|TOKEN|SUFFIXES:
//
//   google|googlebot|googlebot.com,google.com
//
// TOKEN is looked for in the lower-cased user agent; SUFFIXES are the domains
// a verified crawler's reverse name must lie in. Lines starting with ";" and
// blank lines are skipped; a line that does not read is skipped and named by
// `sentrel lint` with its reason.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel::crawlers {

inline constexpr char kCrawlerListFile[] = "Crawlers.txt";

// Bounds of one line's fields.
inline constexpr std::size_t kMaxNameLength = 63;
inline constexpr std::size_t kMaxTokenLength = 255;
inline constexpr std::size_t kMaxSuffixes = 16;
// Crawlers read from one file; later lines are skipped.
inline constexpr std::size_t kMaxCrawlers = 256;

struct Crawler {
  std::string name;                   // as written: letters, digits, '.', '_', '-'
  std::string token;                  // lower-cased
  std::vector<std::string> suffixes;  // lower-cased, without leading or trailing dots
};

// The reading of one line that is neither blank nor a remark.
struct CrawlerLine {
  bool accepted = false;
  std::string reason;  // why it is skipped
  Crawler crawler;     // an accepted line's crawler
};

CrawlerLine ParseCrawlerLine(const std::string& line);

// Whether a line is skipped without being read: blank, or a remark (";"
// after any leading blanks).
bool IsCrawlerRemark(const std::string& line);

// Whether `name` is a host name as DNS gives it: labels of 1 to 63 letters,
// digits, '-' or '_', separated by single dots, 253 bytes at most; one
// trailing dot is allowed.
bool IsHostName(std::string_view name);

// Whether the DNS name lies within one of the suffixes: it is a suffix itself
// or ends in "." and a suffix, compared without regard to case; one trailing
// dot of the name is ignored. A name that is not a host name (IsHostName) lies
// within none.
bool NameWithin(std::string_view name, const std::vector<std::string>& suffixes);

class CrawlerList {
 public:
  // Adds a crawler; false (nothing added) once kMaxCrawlers are held.
  bool Add(Crawler crawler);
  // The first crawler, in file order, whose token the lower-cased user agent
  // holds; nullptr when none does.
  const Crawler* Find(std::string_view lowerAgent) const;
  // The crawler's number in the list (its position), for a pointer Find gave.
  std::size_t IndexOf(const Crawler* crawler) const { return static_cast<std::size_t>(crawler - crawlers_.data()); }
  const std::vector<Crawler>& All() const { return crawlers_; }
  bool Empty() const { return crawlers_.empty(); }

 private:
  std::vector<Crawler> crawlers_;
};

// Called for every line that is read (not blank, not a remark) with its
// number, text and reading.
using CrawlerLineObserver =
    std::function<void(int lineNumber, const std::string& text, const CrawlerLine& reading)>;

// Reads folderPath + "Crawlers.txt" into `list`. False when the file is
// missing (an empty list).
bool LoadCrawlerList(const std::string& folderPath, CrawlerList& list,
                     const CrawlerLineObserver& observer = {});

}  // namespace sentrel::crawlers
