#include "filter/core/server_variables.h"

#include "platform/codepage.h"

namespace sentrel {

const std::string* ServerVariableCache::Find(const std::string& name) const {
  for (const auto& [key, value] : entries_) {
    if (key == name) return &value;
  }
  return nullptr;
}

const std::string& ServerVariableCache::Insert(const std::string& name, std::string value) {
  for (auto& [key, existing] : entries_) {
    if (key == name) {
      existing = std::move(value);
      return existing;
    }
  }
  return entries_.emplace_back(name, std::move(value)).second;
}

bool AskServerVariable(HTTP_FILTER_CONTEXT* context, const std::string& name, std::string& value) {
  char buffer[kServerVariableBuffer];
  DWORD size = kServerVariableBuffer;
  if (!context->GetServerVariable(context, const_cast<char*>(name.c_str()), buffer, &size)) {
    return false;
  }
  buffer[kServerVariableBuffer - 1] = '\0';
  value.assign(buffer);
  return true;
}

const std::string* LookUpServerVariable(HTTP_FILTER_CONTEXT* context, const std::string& name,
                                        ServerVariableCache& cache) {
  try {
    if (const std::string* cached = cache.Find(name)) return cached;
    std::string value;
    ComputedVariable* computed = cache.Computed();
    if (computed != nullptr && name == computed->Name()) {
      value = computed->Compute(context, cache);
    } else if (!AskServerVariable(context, name, value)) {
      return nullptr;
    }
    return &cache.Insert(name, std::move(value));
  } catch (...) {
    return nullptr;
  }
}

bool ReadServerVariable(HTTP_FILTER_CONTEXT* context, std::string& out, const std::string& name,
                        ServerVariableCache& cache) {
  const std::string* value = LookUpServerVariable(context, name, cache);
  if (value == nullptr) return false;
  try {
    out = *value;
  } catch (...) {
    return false;
  }
  return true;
}

namespace {

// Replaces every occurrence of token by value. Stops early once the result
// has grown past `limit` (the caller then cuts it), so that one replacement
// can never build a text far larger than the bound.
void ReplaceAll(std::string& text, const std::string& token, const std::string& value,
                std::size_t limit) {
  std::string out;
  std::size_t from = 0;
  for (std::size_t at = text.find(token); at != std::string::npos; at = text.find(token, from)) {
    if (out.size() > limit) {
      text = std::move(out);
      return;
    }
    out.append(text, from, at - from);
    out += value;
    from = at + token.size();
  }
  out.append(text, from, std::string::npos);
  text = std::move(out);
}

std::string TokenValue(HTTP_FILTER_CONTEXT* context, const std::string& token,
                       ServerVariableCache& cache, platform::Clock& clock) {
  if (token.size() >= 3 && token[1] == 'S' && token[2] == '(') {
    if (token.size() < 5 || token[token.size() - 2] != ')') return "Null";
    const std::string* value = LookUpServerVariable(context, token.substr(3, token.size() - 5), cache);
    return value != nullptr ? *value : "Null";
  }
  if (token == "{TIME}") return clock.FormatNow("%H:%M:%S");
  if (token == "{DATE}") return clock.FormatNow("%Y-%m-%d");
  return "Null";
}

}  // namespace

bool PlaceholderExpander(HTTP_FILTER_CONTEXT* context, std::string& text, ServerVariableCache& cache,
                         platform::Clock& clock) {
  if (text.empty()) return false;
  platform::ToUpperInPlace(text);
  for (int round = 0; round < kMaxPlaceholderTokens; ++round) {
    std::size_t open = text.find('{');
    if (open == std::string::npos) break;
    std::size_t close = text.find('}');
    if (close == std::string::npos) break;
    if (close < open) close = text.find('}', open);
    if (close == std::string::npos) break;
    std::string token = text.substr(open, close - open + 1);
    std::string value = TokenValue(context, token, cache, clock);
    if (value == token) break;
    ReplaceAll(text, token, value, kMaxExpandedLength);
    if (text.size() > kMaxExpandedLength) {
      text.resize(kMaxExpandedLength);
      break;
    }
  }
  return true;
}

}  // namespace sentrel
