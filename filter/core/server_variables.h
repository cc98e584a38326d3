// Per-request access to the server's variables: a cache so that a variable
// tested by several rules and named in several log texts costs one call to the
// server, and the expansion of log templates.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "filter/core/isapi.h"
#include "platform/clock.h"

namespace sentrel {

// Every lookup reads into a buffer of this size; a longer value does not fit
// and counts as missing.
inline constexpr DWORD kServerVariableBuffer = 1024;

class ServerVariableCache;

// A variable the filter computes itself (SENTREL_CRAWLER): the server is
// never asked for its name, and it is never missing.
class ComputedVariable {
 public:
  virtual ~ComputedVariable() = default;
  virtual const char* Name() const = 0;
  virtual std::string Compute(HTTP_FILTER_CONTEXT* context, ServerVariableCache& cache) = 0;
};

// Variable name -> value for one request. Only values the server returned are
// stored, so a failed lookup asks the server again next time.
class ServerVariableCache {
 public:
  ServerVariableCache() { entries_.reserve(8); }  // the variables of an ordinary request, in one allocation
  const std::string* Find(const std::string& name) const;
  // Stores the value; the reference stays valid until the next Insert.
  const std::string& Insert(const std::string& name, std::string value);
  std::size_t Size() const { return entries_.size(); }
  // The variable computed instead of asked for, if any; it must outlive the cache.
  void SetComputed(ComputedVariable* computed) { computed_ = computed; }
  ComputedVariable* Computed() const { return computed_; }

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
  ComputedVariable* computed_ = nullptr;
};

// Asks the server for a variable into a 1024-byte buffer. True with the value
// on success; false when the server has no such variable or it did not fit.
bool AskServerVariable(HTTP_FILTER_CONTEXT* context, const std::string& name, std::string& value);

// Reads a variable through the cache. False (output untouched) when missing.
bool ReadServerVariable(HTTP_FILTER_CONTEXT* context, std::string& out, const std::string& name,
                        ServerVariableCache& cache);
// The same look-up without the copy: the cached value (valid until the next
// insertion into the cache), or null when missing.
const std::string* LookUpServerVariable(HTTP_FILTER_CONTEXT* context, const std::string& name,
                                        ServerVariableCache& cache);

// Expands a log template in place: the text is upper-cased, then tokens are
// worked off from left to right: "{S(NAME)}" becomes the server variable's
// value ("Null" when missing), "{TIME}" the local time, "{DATE}" the local
// date, any other token "Null". False only for an empty text.
//
// Expansion always ends: a "}" standing before the first "{" is passed over
// (the closing brace is searched after the opening one), a token whose value
// is the token itself ends the expansion, and at most kMaxPlaceholderTokens
// tokens are worked off and the text never grows past kMaxExpandedLength
// bytes, so values that themselves hold tokens cannot make it run away.
bool PlaceholderExpander(HTTP_FILTER_CONTEXT* context, std::string& text, ServerVariableCache& cache,
                         platform::Clock& clock);

inline constexpr int kMaxPlaceholderTokens = 1024;
// Above every ordinary result: a template holds at most 1023 bytes, so at
// most 170 placeholders of six bytes, each worth at most 1023 bytes.
inline constexpr std::size_t kMaxExpandedLength = 256 * 1024;

}  // namespace sentrel
