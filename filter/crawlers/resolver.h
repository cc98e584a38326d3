// The background resolver of crawler checks: forward-confirmed reverse DNS.
// For a client address it asks for the address's PTR names; each name within
// the crawler's suffixes is then looked up forward (A for an IPv4 address,
// AAAA for an IPv6 one), and the crawler is verified when a forward answer
// holds the address. It runs on a thread of its own and takes its work from a
// VerificationSource; a request thread never waits for it.
//
// On Linux it is built on the c-ares library (posix/); the Windows build has
// no resolver (win32/) and every claim stays unknown.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "filter/crawlers/crawler_list.h"

namespace sentrel::crawlers {

enum class Verdict : std::uint8_t {
  Pending,   // the check is running (or waiting for its turn)
  Verified,  // the reverse name lies within the suffixes and maps back to the address
  Fake,      // no reverse name, a reverse name outside the suffixes, or one that does not map back
  Unknown,   // DNS failed (timeout, server failure, unreadable answer): no verdict
};

// "pending", "verified", "fake", "unknown".
const char* VerdictWord(Verdict verdict);

// One check: a client address (the text the server gave) claiming a crawler.
struct Job {
  std::string address;
  const Crawler* crawler = nullptr;  // owned by the list, which outlives every job
  std::size_t crawlerIndex = 0;
  std::int64_t askedAt = 0;  // the filter's clock when it was queued
};

// Where the resolver takes its jobs from and hands its verdicts to. Both are
// called on the resolver's thread.
class VerificationSource {
 public:
  virtual ~VerificationSource() = default;
  // The next queued job; false when none is queued.
  virtual bool NextJob(Job& job) = 0;
  virtual void Finish(const Job& job, Verdict verdict) = 0;
};

struct ResolverOptions {
  std::string server;  // "address:port" of the DNS server; empty: the system's resolvers
  std::size_t maxOutstanding = 64;  // checks with a query on the wire at once
  std::uint32_t timeoutMs = 1000;   // first wait for an answer (c-ares doubles it per try)
  int tries = 2;                    // sends of one query before it times out
  std::size_t maxForwardNames = 8;  // reverse names within the suffixes looked up forward
};

class Resolver {
 public:
  virtual ~Resolver() = default;  // stops the thread; verdicts still open are dropped
  // Tells the thread that jobs were queued.
  virtual void Wake() = 0;
};

// Whether this build can resolve (false on Windows).
bool ResolverAvailable();

// Whether `text` names a DNS server as "address:port" or "address" (port 53):
// an IPv4 address, or an IPv6 address in brackets ("[::1]:53").
bool ValidResolverAddress(const std::string& text);

// Starts the resolver thread. Null when this build has no resolver or the
// resolver cannot start; `problem` then says why.
std::unique_ptr<Resolver> StartResolver(const ResolverOptions& options, VerificationSource& source,
                                        std::string& problem);

}  // namespace sentrel::crawlers
