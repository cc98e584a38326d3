#include "filter/metrics/exposition.h"

namespace sentrel::metrics {

namespace {

std::string Escape(std::string_view text, bool quotes) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '"' && quotes) {
      out += "\\\"";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string EscapeHelp(std::string_view text) { return Escape(text, false); }
std::string EscapeLabelValue(std::string_view text) { return Escape(text, true); }

void TextExposition::Family(std::string_view name, std::string_view help, MetricType type) {
  text_ += "# HELP ";
  text_ += name;
  text_ += ' ';
  text_ += EscapeHelp(help);
  text_ += "\n# TYPE ";
  text_ += name;
  text_ += type == MetricType::Counter ? " counter\n" : " gauge\n";
}

void TextExposition::Sample(std::string_view name, std::initializer_list<Label> labels,
                            std::uint64_t value) {
  text_ += name;
  if (labels.size() != 0) {
    text_ += '{';
    bool first = true;
    for (const Label& label : labels) {
      if (!first) text_ += ',';
      first = false;
      text_ += label.name;
      text_ += "=\"";
      text_ += EscapeLabelValue(label.value);
      text_ += '"';
    }
    text_ += '}';
  }
  text_ += ' ';
  text_ += std::to_string(value);
  text_ += '\n';
}

}  // namespace sentrel::metrics
