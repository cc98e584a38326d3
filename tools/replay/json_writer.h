// A small writer of indented JSON text. Strings are given as UTF-8 and
// escaped as JSON requires; the caller keeps keys and values in order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sentrel::replay {

class JsonWriter {
 public:
  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  // The key of the next member of the current object.
  JsonWriter& Key(std::string_view key);
  JsonWriter& String(std::string_view utf8);
  JsonWriter& Number(std::int64_t value);
  JsonWriter& Unsigned(std::uint64_t value);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

  // The text, ending in a line feed once the outermost value is closed.
  const std::string& Text() const { return out_; }

 private:
  void BeforeValue();
  void Quote(std::string_view utf8);
  void NewLine();

  struct Level {
    bool array;
    bool empty = true;
  };
  std::string out_;
  std::vector<Level> levels_;
  bool afterKey_ = false;
};

}  // namespace sentrel::replay
