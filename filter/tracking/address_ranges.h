// Listed address ranges, held as ranges: an ordered table of disjoint
// intervals, each with the state its list gives. A later entry wins over the
// parts of earlier ones it covers. The client table consults it when it
// creates a record, so a listed address behaves as if it had its own record
// with the list's state and a hold that never ends, while memory grows with
// the number of list lines rather than the number of addresses.
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "filter/tracking/client_tally.h"

namespace sentrel {

class AddressRanges {
 public:
  // Lists every address from first to last inclusive with the state.
  void Add(std::uint32_t first, std::uint32_t last, ClientState state);
  // The state of a listed address, or nothing.
  std::optional<ClientState> Find(std::uint32_t key) const;
  std::size_t IntervalCount() const { return intervals_.size(); }
  bool Empty() const { return intervals_.empty(); }

 private:
  struct Interval {
    std::uint32_t last;
    ClientState state;
  };
  std::map<std::uint32_t, Interval> intervals_;  // keyed by first address
};

}  // namespace sentrel
