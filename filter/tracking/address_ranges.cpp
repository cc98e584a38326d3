#include "filter/tracking/address_ranges.h"

namespace sentrel {

void AddressRanges::Add(std::uint32_t first, std::uint32_t last, ClientState state) {
  if (first > last) return;
  // Cut the interval that starts before `first` and reaches into the new one.
  auto it = intervals_.lower_bound(first);
  if (it != intervals_.begin()) {
    auto prev = std::prev(it);
    if (prev->second.last >= first) {
      Interval tail = prev->second;
      prev->second.last = first - 1;
      if (tail.last > last) intervals_[last + 1] = Interval{tail.last, tail.state};
    }
  }
  // Remove or shorten the intervals that start inside the new one.
  it = intervals_.lower_bound(first);
  while (it != intervals_.end() && it->first <= last) {
    Interval cur = it->second;
    it = intervals_.erase(it);
    if (cur.last > last) {
      intervals_[last + 1] = cur;
      break;
    }
  }
  intervals_[first] = Interval{last, state};
}

std::optional<ClientState> AddressRanges::Find(std::uint32_t key) const {
  auto it = intervals_.upper_bound(key);
  if (it == intervals_.begin()) return std::nullopt;
  --it;
  if (key <= it->second.last) return it->second.state;
  return std::nullopt;
}

}  // namespace sentrel
