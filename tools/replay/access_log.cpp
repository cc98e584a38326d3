#include "tools/replay/access_log.h"

#include <array>
#include <cstdio>
#include <vector>

namespace sentrel::replay {

namespace {

constexpr std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};


bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct CivilTime {
  std::int64_t year;
  unsigned month, day, hour, minute, second;
};

CivilTime CivilFromSeconds(std::int64_t t) {
  std::int64_t days = t / 86400;
  std::int64_t rest = t % 86400;
  if (rest < 0) {
    rest += 86400;
    days -= 1;
  }
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const auto doe = static_cast<unsigned>(days - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  CivilTime c{};
  c.day = doy - (153 * mp + 2) / 5 + 1;
  c.month = mp < 10 ? mp + 3 : mp - 9;
  c.year = static_cast<std::int64_t>(yoe) + era * 400 + (c.month <= 2);
  c.hour = static_cast<unsigned>(rest / 3600);
  c.minute = static_cast<unsigned>(rest / 60 % 60);
  c.second = static_cast<unsigned>(rest % 60);
  return c;
}

// Reads exactly `width` digits at `pos`.
bool Digits(std::string_view text, std::size_t pos, std::size_t width, unsigned& value) {
  if (pos + width > text.size()) return false;
  value = 0;
  for (std::size_t i = pos; i < pos + width; ++i) {
    if (!IsDigit(text[i])) return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return true;
}

// Reads a quoted field starting at `pos` (which holds the opening quote) and
// unescapes it. The field ends at a quote that is followed by a blank or the
// end of the line; a quote followed by anything else belongs to the field (a
// client can send a bare quote that an older server logs unescaped).
bool QuotedField(std::string_view line, std::size_t& pos, std::string& out) {
  out.clear();
  std::size_t i = pos + 1;
  while (i < line.size()) {
    const char c = line[i];
    if (c == '\\' && i + 1 < line.size()) {
      const char e = line[i + 1];
      switch (e) {
        case '"': out += '"'; i += 2; continue;
        case '\\': out += '\\'; i += 2; continue;
        case 'n': out += '\n'; i += 2; continue;
        case 'r': out += '\r'; i += 2; continue;
        case 't': out += '\t'; i += 2; continue;
        case 'b': out += '\b'; i += 2; continue;
        case 'v': out += '\v'; i += 2; continue;
        case 'f': out += '\f'; i += 2; continue;
        case 'x':
          if (i + 3 < line.size()) {
            const int hi = hosts::HexDigitValue(line[i + 2]);
            const int lo = hosts::HexDigitValue(line[i + 3]);
            if (hi >= 0 && lo >= 0) {
              out += static_cast<char>(hi * 16 + lo);
              i += 4;
              continue;
            }
          }
          break;
        default:
          break;
      }
      out += c;  // an escape the servers do not write: kept as it is
      i += 1;
      continue;
    }
    if (c == '"' && (i + 1 == line.size() || line[i + 1] == ' ')) {
      pos = i + 1;
      return true;
    }
    out += c;
    ++i;
  }
  return false;
}

// The next blank-separated token from `pos`.
std::string_view Token(std::string_view line, std::size_t& pos) {
  const std::size_t start = pos;
  while (pos < line.size() && line[pos] != ' ') ++pos;
  return line.substr(start, pos - start);
}

void SkipBlanks(std::string_view line, std::size_t& pos) {
  while (pos < line.size() && line[pos] == ' ') ++pos;
}

bool IsMethodChar(char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || IsDigit(c)) return true;
  return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// Splits "METHOD TARGET [PROTOCOL]" into the entry's fields.
bool SplitRequestLine(std::string_view request, AccessLogEntry& entry) {
  const std::size_t firstBlank = request.find(' ');
  if (firstBlank == std::string_view::npos || firstBlank == 0) return false;
  const std::string_view method = request.substr(0, firstBlank);
  for (char c : method) {
    if (!IsMethodChar(c)) return false;
  }
  std::string_view rest = request.substr(firstBlank + 1);
  std::string_view protocol;
  const std::size_t lastBlank = rest.rfind(' ');
  if (lastBlank != std::string_view::npos && rest.substr(lastBlank + 1).starts_with("HTTP/")) {
    protocol = rest.substr(lastBlank + 1);
    rest = rest.substr(0, lastBlank);
  }
  std::string_view target = rest;
  if (target.empty()) return false;
  for (char c : target) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  }
  // A proxy-style absolute target names the path after the authority.
  for (std::string_view scheme : {"http://", "https://"}) {
    if (target.size() >= scheme.size()) {
      bool same = true;
      for (std::size_t i = 0; i < scheme.size(); ++i) {
        char c = target[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != scheme[i]) same = false;
      }
      if (same) {
        const std::size_t slash = target.find_first_of("/?", scheme.size());
        target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
        break;
      }
    }
  }
  entry.method.assign(method);
  entry.protocol.assign(protocol);
  const std::size_t question = target.find('?');
  if (question == std::string_view::npos) {
    entry.url = UrlVariable(target);
    entry.queryString.clear();
  } else {
    entry.url = UrlVariable(target.substr(0, question));
    entry.queryString.assign(target.substr(question + 1));
  }
  return true;
}

std::string Shown(std::string_view text) {
  std::string out;
  for (unsigned char c : text.substr(0, 40)) {
    if (c < 0x20 || c >= 0x7f) {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  if (text.size() > 40) out += "...";
  return out;
}

}  // namespace

std::string UrlVariable(std::string_view rawPath) {
  if (rawPath.empty()) return "/";
  return NormalizeUrlPath(DecodeUrlPath(rawPath));
}

bool ParseLogTime(std::string_view text, std::int64_t& utc, std::int32_t& utcOffset) {
  // dd/Mon/yyyy:HH:MM:SS +hhmm
  if (text.size() != 26 || text[2] != '/' || text[6] != '/' || text[11] != ':' || text[14] != ':' ||
      text[17] != ':' || text[20] != ' ' || (text[21] != '+' && text[21] != '-')) {
    return false;
  }
  unsigned day = 0, year = 0, hour = 0, minute = 0, second = 0, zoneHours = 0, zoneMinutes = 0;
  if (!Digits(text, 0, 2, day) || !Digits(text, 7, 4, year) || !Digits(text, 12, 2, hour) ||
      !Digits(text, 15, 2, minute) || !Digits(text, 18, 2, second) || !Digits(text, 22, 2, zoneHours) ||
      !Digits(text, 24, 2, zoneMinutes)) {
    return false;
  }
  unsigned month = 0;
  for (unsigned m = 0; m < kMonths.size(); ++m) {
    const char* name = kMonths[m];
    bool same = true;
    for (int i = 0; i < 3; ++i) {
      if ((text[3 + i] | 0x20) != (name[i] | 0x20)) same = false;
    }
    if (same) month = m + 1;
  }
  if (month == 0 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 || zoneHours > 23 ||
      zoneMinutes > 59) {
    return false;
  }
  // A day past the month's end (31 Apr) is refused, as no server writes it.
  const std::int64_t days = DaysFromCivil(year, month, day);
  if (CivilFromSeconds(days * 86400).day != day) return false;
  utcOffset = static_cast<std::int32_t>((zoneHours * 60 + zoneMinutes) * 60) * (text[21] == '-' ? -1 : 1);
  utc = days * 86400 + hour * 3600 + minute * 60 + second - utcOffset;
  return true;
}

std::string FormatLogTime(std::int64_t utc, std::int32_t utcOffset) {
  const CivilTime c = CivilFromSeconds(utc + utcOffset);
  const std::int32_t zone = utcOffset < 0 ? -utcOffset : utcOffset;
  char text[48];
  std::snprintf(text, sizeof(text), "%02u/%s/%04lld:%02u:%02u:%02u %c%02d%02d", c.day, kMonths[c.month - 1],
                static_cast<long long>(c.year), c.hour, c.minute, c.second, utcOffset < 0 ? '-' : '+',
                zone / 3600, zone / 60 % 60);
  return text;
}

std::string FormatIsoTime(std::int64_t utc) {
  const CivilTime c = CivilFromSeconds(utc);
  char text[40];
  std::snprintf(text, sizeof(text), "%04lld-%02u-%02uT%02u:%02u:%02uZ", static_cast<long long>(c.year),
                c.month, c.day, c.hour, c.minute, c.second);
  return text;
}

bool ParseAccessLogLine(std::string_view line, AccessLogEntry& entry, std::string& reason) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  entry = AccessLogEntry{};
  std::size_t pos = 0;

  entry.address.assign(Token(line, pos));
  if (entry.address.empty()) {
    reason = "no client address at the start of the line";
    return false;
  }

  // The identity and user fields lie between the address and the time; they
  // are not needed, and a user name may hold blanks.
  const std::size_t open = line.find(" [", pos);
  if (open == std::string_view::npos) {
    reason = "no [time] field";
    return false;
  }
  const std::size_t close = line.find(']', open);
  if (close == std::string_view::npos) {
    reason = "the [time] field is not closed";
    return false;
  }
  const std::string_view timeText = line.substr(open + 2, close - open - 2);
  if (!ParseLogTime(timeText, entry.time, entry.utcOffset)) {
    reason = "time \"" + Shown(timeText) + "\" is not like 10/Oct/2000:13:55:36 -0700";
    return false;
  }
  entry.timeText.assign(timeText);
  pos = close + 1;

  SkipBlanks(line, pos);
  if (pos >= line.size() || line[pos] != '"') {
    reason = "no quoted request after the time";
    return false;
  }
  std::string request;
  if (!QuotedField(line, pos, request)) {
    reason = "the quoted request is not closed";
    return false;
  }
  if (!SplitRequestLine(request, entry)) {
    reason = "request \"" + Shown(request) + "\" is not METHOD URL PROTOCOL";
    return false;
  }

  SkipBlanks(line, pos);
  const std::string_view status = Token(line, pos);
  if (status == "-") {
    entry.status = 0;
  } else if (status.empty() || status.size() > 3 ||
             status.find_first_not_of("0123456789") != std::string_view::npos) {
    reason = "status \"" + Shown(status) + "\" is not a number";
    return false;
  } else {
    entry.status = std::stoi(std::string(status));
  }
  SkipBlanks(line, pos);
  const std::string_view bytes = Token(line, pos);
  if (bytes.empty() || (bytes != "-" && bytes.find_first_not_of("0123456789") != std::string_view::npos)) {
    reason = "size \"" + Shown(bytes) + "\" is neither a number nor -";
    return false;
  }

  // Combined format: referer and user agent. Anything else after the size
  // (a custom format's extra fields) is ignored.
  SkipBlanks(line, pos);
  if (pos >= line.size() || line[pos] != '"') return true;
  std::string referer;
  std::string agent;
  if (!QuotedField(line, pos, referer)) {
    reason = "the quoted referer is not closed";
    return false;
  }
  SkipBlanks(line, pos);
  if (pos < line.size() && line[pos] == '"') {
    if (!QuotedField(line, pos, agent)) {
      reason = "the quoted user agent is not closed";
      return false;
    }
    if (agent != "-") entry.userAgent = std::move(agent);
  }
  if (referer != "-") entry.referer = std::move(referer);
  return true;
}

}  // namespace sentrel::replay
