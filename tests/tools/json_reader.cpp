#include "tests/tools/json_reader.h"

#include <cstdlib>
#include <stdexcept>

namespace sentrel::test {

namespace {

class Reader {
 public:
  explicit Reader(const std::string& text) : text_(text) {}

  JsonValue Document() {
    JsonValue v = Value();
    Blanks();
    if (pos_ != text_.size()) Fail("text after the value");
    return v;
  }

 private:
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + " at offset " + std::to_string(pos_));
  }
  void Blanks() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' || text_[pos_] == '\r' ||
                                   text_[pos_] == '\t')) {
      ++pos_;
    }
  }
  bool Literal(const char* word) {
    const std::string w(word);
    if (text_.compare(pos_, w.size(), w) != 0) return false;
    pos_ += w.size();
    return true;
  }
  JsonValue Value() {
    Blanks();
    if (pos_ >= text_.size()) Fail("missing value");
    JsonValue v;
    const char c = text_[pos_];
    if (c == '{') {
      v.kind = JsonValue::Kind::Object;
      ++pos_;
      Blanks();
      if (pos_ < text_.size() && text_[pos_] == '}') {
        ++pos_;
        return v;
      }
      for (;;) {
        Blanks();
        if (pos_ >= text_.size() || text_[pos_] != '"') Fail("key expected");
        std::string key = String();
        Blanks();
        if (pos_ >= text_.size() || text_[pos_] != ':') Fail("':' expected");
        ++pos_;
        if (v.members.count(key) != 0) Fail("duplicate key " + key);
        v.keyOrder.push_back(key);
        v.members.emplace(key, Value());
        Blanks();
        if (pos_ < text_.size() && text_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (pos_ < text_.size() && text_[pos_] == '}') {
          ++pos_;
          return v;
        }
        Fail("',' or '}' expected");
      }
    }
    if (c == '[') {
      v.kind = JsonValue::Kind::Array;
      ++pos_;
      Blanks();
      if (pos_ < text_.size() && text_[pos_] == ']') {
        ++pos_;
        return v;
      }
      for (;;) {
        v.items.push_back(Value());
        Blanks();
        if (pos_ < text_.size() && text_[pos_] == ',') {
          ++pos_;
          continue;
        }
        if (pos_ < text_.size() && text_[pos_] == ']') {
          ++pos_;
          return v;
        }
        Fail("',' or ']' expected");
      }
    }
    if (c == '"') {
      v.kind = JsonValue::Kind::String;
      v.string = String();
      return v;
    }
    if (Literal("null")) return v;
    if (Literal("true")) {
      v.kind = JsonValue::Kind::Bool;
      v.boolean = true;
      return v;
    }
    if (Literal("false")) {
      v.kind = JsonValue::Kind::Bool;
      return v;
    }
    if (c == '-' || (c >= '0' && c <= '9')) {
      const std::size_t start = pos_;
      if (text_[pos_] == '-') ++pos_;
      if (pos_ >= text_.size() || text_[pos_] < '0' || text_[pos_] > '9') Fail("digit expected");
      if (text_[pos_] == '0' && pos_ + 1 < text_.size() && text_[pos_ + 1] >= '0' && text_[pos_ + 1] <= '9') {
        Fail("leading zero");
      }
      while (pos_ < text_.size() && std::string("0123456789.eE+-").find(text_[pos_]) != std::string::npos) ++pos_;
      v.kind = JsonValue::Kind::Number;
      v.number = std::strtod(text_.substr(start, pos_ - start).c_str(), nullptr);
      return v;
    }
    Fail("unexpected character");
  }
  std::string String() {
    ++pos_;  // the opening quote
    std::string out;
    while (pos_ < text_.size()) {
      const auto c = static_cast<unsigned char>(text_[pos_++]);
      if (c == '"') return out;
      if (c < 0x20) Fail("control character in a string");
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (pos_ >= text_.size()) break;
      const char e = text_[pos_++];
      switch (e) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u': {
          if (pos_ + 4 > text_.size()) Fail("short \\u escape");
          const unsigned long code = std::strtoul(text_.substr(pos_, 4).c_str(), nullptr, 16);
          pos_ += 4;
          if (code < 0x80) {
            out += static_cast<char>(code);
          } else {
            out += '?';  // the reports escape control characters only
          }
          break;
        }
        default: Fail("unknown escape");
      }
    }
    Fail("string not closed");
  }

  const std::string& text_;
  std::size_t pos_ = 0;
};

const JsonValue kNull;

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& key) const {
  auto it = members.find(key);
  return it == members.end() ? kNull : it->second;
}

std::optional<JsonValue> ReadJson(const std::string& text, std::string* error) {
  try {
    return Reader(text).Document();
  } catch (const std::exception& e) {
    if (error != nullptr) *error = e.what();
    return std::nullopt;
  }
}

}  // namespace sentrel::test
