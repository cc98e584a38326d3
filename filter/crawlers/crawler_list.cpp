#include "filter/crawlers/crawler_list.h"

#include "platform/codepage.h"
#include "platform/files.h"

namespace sentrel::crawlers {

namespace {

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsNameByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '_' || c == '-';
}

bool IsLabelByte(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

// Reads the SUFFIXES field into `out`; false with the reason when a suffix
// does not read.
bool ParseSuffixes(std::string_view field, std::vector<std::string>& out, std::string& reason) {
  if (Trim(field).empty()) {
    reason = "no suffix: SUFFIXES is empty";
    return false;
  }
  while (true) {
    const std::size_t comma = field.find(',');
    std::string_view item = Trim(field.substr(0, comma));
    const std::string written(item);
    if (!item.empty() && item.front() == '.') item.remove_prefix(1);
    if (!item.empty() && item.back() == '.') item.remove_suffix(1);
    if (item.empty()) {
      reason = "an empty suffix in SUFFIXES";
      return false;
    }
    if (!IsHostName(item)) {
      reason = "the suffix \"" + written + "\" is not a DNS domain (labels of letters, digits, '-' or '_' joined by dots)";
      return false;
    }
    if (item.find('.') == std::string_view::npos) {
      reason = "the suffix \"" + written + "\" is a single label: it would take in every name under it";
      return false;
    }
    if (out.size() == kMaxSuffixes) {
      reason = "more than " + std::to_string(kMaxSuffixes) + " suffixes";
      return false;
    }
    out.push_back(platform::ToLower(std::string(item)));
    if (comma == std::string_view::npos) return true;
    field.remove_prefix(comma + 1);
  }
}

}  // namespace

bool IsCrawlerRemark(const std::string& line) {
  const std::string_view text = Trim(line);
  return text.empty() || text.front() == ';';
}

bool IsHostName(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  if (name.empty() || name.size() > 253) return false;
  std::size_t label = 0;
  for (char c : name) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
      continue;
    }
    if (!IsLabelByte(c) || ++label > 63) return false;
  }
  return label != 0;
}

bool NameWithin(std::string_view name, const std::vector<std::string>& suffixes) {
  if (!IsHostName(name)) return false;
  if (name.back() == '.') name.remove_suffix(1);
  for (const std::string& suffix : suffixes) {
    if (name.size() == suffix.size()) {
      if (EqualNoCase(name, suffix)) return true;
    } else if (name.size() > suffix.size() && name[name.size() - suffix.size() - 1] == '.' &&
               EqualNoCase(name.substr(name.size() - suffix.size()), suffix)) {
      return true;
    }
  }
  return false;
}

CrawlerLine ParseCrawlerLine(const std::string& line) {
  CrawlerLine out;
  const std::string_view text(line);
  const std::size_t first = text.find('|');
  const std::size_t second = first == std::string_view::npos ? first : text.find('|', first + 1);
  if (second == std::string_view::npos || text.find('|', second + 1) != std::string_view::npos) {
    out.reason = "not NAME|TOKEN|SUFFIXES (three fields joined by \"|\")";
    return out;
  }
  const std::string_view name = Trim(text.substr(0, first));
  const std::string_view token = Trim(text.substr(first + 1, second - first - 1));
  if (name.empty() || name.size() > kMaxNameLength) {
    out.reason = "NAME must hold 1 to " + std::to_string(kMaxNameLength) + " bytes";
    return out;
  }
  for (char c : name) {
    if (!IsNameByte(c)) {
      out.reason = "NAME may hold only letters, digits, '.', '_' and '-'";
      return out;
    }
  }
  if (token.empty() || token.size() > kMaxTokenLength) {
    out.reason = "TOKEN must hold 1 to " + std::to_string(kMaxTokenLength) + " bytes";
    return out;
  }
  Crawler crawler;
  crawler.name = std::string(name);
  crawler.token = platform::ToLower(std::string(token));
  if (!ParseSuffixes(text.substr(second + 1), crawler.suffixes, out.reason)) return out;
  out.crawler = std::move(crawler);
  out.accepted = true;
  return out;
}

bool CrawlerList::Add(Crawler crawler) {
  if (crawlers_.size() == kMaxCrawlers) return false;
  crawlers_.push_back(std::move(crawler));
  return true;
}

const Crawler* CrawlerList::Find(std::string_view lowerAgent) const {
  for (const Crawler& c : crawlers_) {
    if (lowerAgent.find(c.token) != std::string_view::npos) return &c;
  }
  return nullptr;
}

bool LoadCrawlerList(const std::string& folderPath, CrawlerList& list, const CrawlerLineObserver& observer) {
  platform::TextFile in;
  if (!in.Open(folderPath + kCrawlerListFile, platform::TextFile::Mode::Read)) return false;
  std::string line;
  int number = 0;
  while (in.ReadLine(line)) {
    ++number;
    if (IsCrawlerRemark(line)) continue;
    CrawlerLine reading = ParseCrawlerLine(line);
    if (reading.accepted && !list.Add(reading.crawler)) {
      reading.accepted = false;
      reading.reason = "more than " + std::to_string(kMaxCrawlers) + " crawlers";
    }
    if (observer) observer(number, line, reading);
  }
  return true;
}

}  // namespace sentrel::crawlers
