// Listed address ranges, held as ranges: an ordered table of disjoint
// intervals, each with the state its list gives. A later entry wins over the
// parts of earlier ones it covers. The client table consults it when it
// creates a record, so a listed address behaves as if it had its own record
// with the list's state and a hold that never ends, while memory grows with
// the number of list lines rather than the number of addresses. IPv4 and
// IPv6 addresses are held in two tables of the same kind.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "filter/tracking/client_address.h"
#include "filter/tracking/client_tally.h"

namespace sentrel {

template <typename Key>
class IntervalTable {
 public:
  void Add(const Key& first, const Key& last, ClientState state);
  std::optional<ClientState> Find(const Key& key) const;
  // The state of a block of addresses that listed intervals touch: Blocked
  // when any of them blocks, else the state of the first; nothing when none
  // touches it.
  std::optional<ClientState> FindTouching(const Key& first, const Key& last) const;
  std::size_t size() const { return intervals_.size(); }

 private:
  struct Interval {
    Key last;
    ClientState state;
  };
  std::map<Key, Interval> intervals_;  // keyed by first address
};

class AddressRanges {
 public:
  // Lists every address from first to last inclusive with the state.
  void Add(std::uint32_t first, std::uint32_t last, ClientState state) { v4_.Add(first, last, state); }
  void Add(const Ipv6Address& first, const Ipv6Address& last, ClientState state) { v6_.Add(first, last, state); }
  // The state of a listed address, or nothing.
  std::optional<ClientState> Find(std::uint32_t key) const { return v4_.Find(key); }
  // The state of an IPv6 client's block (first to last address): a list
  // line that touches any part of it lists the whole client, and a block
  // touched by both lists is blocked.
  std::optional<ClientState> Find(const Ipv6Address& first, const Ipv6Address& last) const {
    return v6_.FindTouching(first, last);
  }
  std::size_t IntervalCount() const { return v4_.size() + v6_.size(); }
  bool Empty() const { return IntervalCount() == 0; }

 private:
  IntervalTable<std::uint32_t> v4_;
  IntervalTable<Ipv6Address> v6_;
};

}  // namespace sentrel
