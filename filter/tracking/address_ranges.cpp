#include "filter/tracking/address_ranges.h"

#include <iterator>

namespace sentrel {

namespace {

std::uint32_t Next(std::uint32_t k) { return k + 1; }
std::uint32_t Prev(std::uint32_t k) { return k - 1; }
Ipv6Address Next(const Ipv6Address& k) { return {k.lo == ~std::uint64_t{0} ? k.hi + 1 : k.hi, k.lo + 1}; }
Ipv6Address Prev(const Ipv6Address& k) { return {k.lo == 0 ? k.hi - 1 : k.hi, k.lo - 1}; }

}  // namespace

template <typename Key>
void IntervalTable<Key>::Add(const Key& first, const Key& last, ClientState state) {
  if (first > last) return;
  // Cut the interval that starts before `first` and reaches into the new one.
  auto it = intervals_.lower_bound(first);
  if (it != intervals_.begin()) {
    auto prev = std::prev(it);
    if (prev->second.last >= first) {
      Interval tail = prev->second;
      prev->second.last = Prev(first);
      if (tail.last > last) intervals_[Next(last)] = Interval{tail.last, tail.state};
    }
  }
  // Remove or shorten the intervals that start inside the new one.
  it = intervals_.lower_bound(first);
  while (it != intervals_.end() && it->first <= last) {
    Interval cur = it->second;
    it = intervals_.erase(it);
    if (cur.last > last) {
      intervals_[Next(last)] = cur;
      break;
    }
  }
  intervals_[first] = Interval{last, state};
}

template <typename Key>
std::optional<ClientState> IntervalTable<Key>::Find(const Key& key) const {
  auto it = intervals_.upper_bound(key);
  if (it == intervals_.begin()) return std::nullopt;
  --it;
  if (key <= it->second.last) return it->second.state;
  return std::nullopt;
}

template <typename Key>
std::optional<ClientState> IntervalTable<Key>::FindTouching(const Key& first, const Key& last) const {
  auto it = intervals_.upper_bound(first);
  if (it != intervals_.begin() && std::prev(it)->second.last >= first) --it;
  std::optional<ClientState> found;
  for (; it != intervals_.end() && it->first <= last; ++it) {
    if (it->second.state == ClientState::Blocked) return ClientState::Blocked;
    if (!found) found = it->second.state;
  }
  return found;
}

template class IntervalTable<std::uint32_t>;
template class IntervalTable<Ipv6Address>;

}  // namespace sentrel
