// The Windows build has no Redis client library: decisions are not shared.
// The filter says so once at load when section Share names a server, and
// otherwise runs as without sharing.
#include "filter/share/decision_share.h"

namespace sentrel::share {

class DecisionShare::Impl {
 public:
  std::string origin;
};

bool DecisionShare::Available() { return false; }

DecisionShare::DecisionShare(const ShareSettings&, platform::Clock&, ActivityLog&, ApplyFunction)
    : impl_(std::make_unique<Impl>()) {}
DecisionShare::~DecisionShare() = default;

void DecisionShare::Publish(const std::string&, std::uint8_t, std::uint32_t) {}
std::size_t DecisionShare::LoadLiveDecisions() { return 0; }
void DecisionShare::Follow() {}
void DecisionShare::Stop() {}
ShareCounts DecisionShare::Counts() const { return ShareCounts{}; }
const std::string& DecisionShare::Origin() const { return impl_->origin; }

bool ProbeServer(const ShareSettings&, std::string& answer) {
  answer = "sharing is not available on this build";
  return false;
}

}  // namespace sentrel::share
