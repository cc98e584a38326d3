// The Windows build has no DNS library for the crawler check: there is no
// resolver, and every claim stays "unknown NAME" (never "fake").
#include "filter/crawlers/resolver.h"

namespace sentrel::crawlers {

bool ResolverAvailable() { return false; }

bool ValidResolverAddress(const std::string& text) { return !text.empty(); }

std::unique_ptr<Resolver> StartResolver(const ResolverOptions&, VerificationSource&, std::string& problem) {
  problem = "this build has no DNS resolver";
  return nullptr;
}

}  // namespace sentrel::crawlers
