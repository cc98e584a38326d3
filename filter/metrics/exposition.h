// The text exposition format a metrics scraper reads (format version 0.0.4):
// per metric family a HELP line and a TYPE line, then one line per sample,
// "name{label="value",...} value". Texts are UTF-8; HELP texts and label
// values are escaped as the format requires.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace sentrel::metrics {

// The content type of the page.
inline constexpr char kExpositionContentType[] = "text/plain; version=0.0.4; charset=utf-8";

enum class MetricType { Counter, Gauge };

struct Label {
  std::string_view name;
  std::string_view value;  // UTF-8
};

class TextExposition {
 public:
  // Starts a family: its HELP and TYPE lines.
  void Family(std::string_view name, std::string_view help, MetricType type);
  // One sample line. `name` is the family's name (a counter's samples carry
  // it as they are; the writer adds nothing).
  void Sample(std::string_view name, std::initializer_list<Label> labels, std::uint64_t value);
  void Sample(std::string_view name, std::uint64_t value) { Sample(name, {}, value); }
  // A family of one sample without labels.
  void Single(std::string_view name, std::string_view help, MetricType type, std::uint64_t value) {
    Family(name, help, type);
    Sample(name, value);
  }

  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// A HELP text with backslashes and line feeds escaped.
std::string EscapeHelp(std::string_view text);
// A label value with backslashes, double quotes and line feeds escaped.
std::string EscapeLabelValue(std::string_view text);

}  // namespace sentrel::metrics
