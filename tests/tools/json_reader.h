// A strict reader of JSON text for tests: it refuses anything that is not
// well-formed JSON and gives a tree to look values up in.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sentrel::test {

struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  Kind kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string string;
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> members;
  std::vector<std::string> keyOrder;

  bool Has(const std::string& key) const { return members.count(key) != 0; }
  // The member with the key; a null value when there is none.
  const JsonValue& operator[](const std::string& key) const;
  const JsonValue& operator[](std::size_t index) const { return items.at(index); }
};

// The value of a whole text, or nothing (with `error` set) when it is not JSON.
std::optional<JsonValue> ReadJson(const std::string& text, std::string* error = nullptr);

}  // namespace sentrel::test
