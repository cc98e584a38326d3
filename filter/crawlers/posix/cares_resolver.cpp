// The resolver on c-ares: one channel driven by one thread with poll(), woken
// through an eventfd when checks are queued. A check has at most one query
// on the wire at a time (the PTR query, then one forward query after the
// other), so the checks in flight bound the queries a server sees at once.
#include <ares.h>
#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "filter/crawlers/resolver.h"

namespace sentrel::crawlers {

namespace {

struct Address {
  int family = AF_INET;
  unsigned char bytes[16] = {};
  std::size_t size = 4;
};

bool ParseAddress(const std::string& text, Address& out) {
  if (inet_pton(AF_INET, text.c_str(), out.bytes) == 1) {
    out.family = AF_INET;
    out.size = 4;
    return true;
  }
  if (inet_pton(AF_INET6, text.c_str(), out.bytes) != 1) return false;
  static constexpr unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  if (std::memcmp(out.bytes, kMapped, sizeof(kMapped)) == 0) {
    // An IPv4 client as a dual-stack server reports it: checked as IPv4.
    std::memmove(out.bytes, out.bytes + 12, 4);
    out.family = AF_INET;
    out.size = 4;
    return true;
  }
  out.family = AF_INET6;
  out.size = 16;
  return true;
}

// "4.3.2.1.in-addr.arpa" or the 32 nibbles of "ip6.arpa", least significant first.
std::string ReverseName(const Address& a) {
  std::string name;
  char part[8];
  if (a.family == AF_INET) {
    for (std::size_t i = 4; i-- > 0;) {
      std::snprintf(part, sizeof(part), "%u.", static_cast<unsigned>(a.bytes[i]));
      name += part;
    }
    return name + "in-addr.arpa";
  }
  static constexpr char kHex[] = "0123456789abcdef";
  for (std::size_t i = 16; i-- > 0;) {
    name += kHex[a.bytes[i] & 0xf];
    name += '.';
    name += kHex[a.bytes[i] >> 4];
    name += '.';
  }
  return name + "ip6.arpa";
}

// A negative answer (the name does not exist, or has no record of the type)
// as opposed to a failure to get an answer at all.
bool IsNegative(int status) { return status == ARES_ENOTFOUND || status == ARES_ENODATA; }

std::once_flag gLibraryInit;

class AresResolver;

struct Check {
  AresResolver* owner;
  Job job;
  Address address;
  std::vector<std::string> names;  // reverse names within the suffixes
  std::size_t next = 0;            // the name looked up forward now
  bool failed = false;             // a forward look-up failed (no answer)
  bool counted = false;            // counted in flight
};

class AresResolver final : public Resolver {
 public:
  AresResolver(const ResolverOptions& options, VerificationSource& source)
      : options_(options), source_(source) {}

  bool Init(std::string& problem) {
    std::call_once(gLibraryInit, [] { ares_library_init(ARES_LIB_INIT_ALL); });
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
      problem = std::string("eventfd: ") + std::strerror(errno);
      return false;
    }
    ares_options opts{};
    opts.timeout = static_cast<int>(options_.timeoutMs);
    opts.tries = options_.tries;
    // EDNS, so that an answer of many PTR records comes over UDP as a whole
    // (up to 1232 bytes) rather than truncated and asked again over TCP.
    opts.flags = ARES_FLAG_NOSEARCH | ARES_FLAG_NOALIASES | ARES_FLAG_EDNS;
    opts.ednspsz = 1232;
    const int mask = ARES_OPT_TIMEOUTMS | ARES_OPT_TRIES | ARES_OPT_FLAGS | ARES_OPT_EDNSPSZ;
    int status = ares_init_options(&channel_, &opts, mask);
    if (status != ARES_SUCCESS) {
      channel_ = nullptr;
      problem = std::string("c-ares: ") + ares_strerror(status);
      return false;
    }
    if (!options_.server.empty()) {
      status = ares_set_servers_ports_csv(channel_, options_.server.c_str());
      if (status != ARES_SUCCESS) {
        problem = "c-ares refuses the server " + options_.server + ": " + ares_strerror(status);
        return false;
      }
    }
    thread_ = std::thread([this] { Run(); });
    return true;
  }

  ~AresResolver() override {
    stopping_.store(true);
    Wake();
    if (thread_.joinable()) thread_.join();
    // Callbacks of checks still open run here with ARES_EDESTRUCTION.
    if (channel_ != nullptr) ares_destroy(channel_);
    if (wakeFd_ >= 0) close(wakeFd_);
  }

  void Wake() override {
    const std::uint64_t one = 1;
    if (wakeFd_ >= 0) (void)!write(wakeFd_, &one, sizeof(one));
  }

 private:
  void Run() {
    std::vector<pollfd> fds;
    while (!stopping_.load()) {
      Job job;
      while (inFlight_ < options_.maxOutstanding && source_.NextJob(job)) Begin(std::move(job));

      ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
      const int bits = ares_getsock(channel_, sockets, ARES_GETSOCK_MAXNUM);
      fds.assign(1, pollfd{wakeFd_, POLLIN, 0});
      for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
        short events = 0;
        if (ARES_GETSOCK_READABLE(bits, i)) events |= POLLIN;
        if (ARES_GETSOCK_WRITABLE(bits, i)) events |= POLLOUT;
        if (events != 0) fds.push_back(pollfd{sockets[i], events, 0});
      }
      timeval most{1, 0};
      timeval wait{};
      const timeval* t = ares_timeout(channel_, &most, &wait);
      const int ms = static_cast<int>(t->tv_sec * 1000 + (t->tv_usec + 999) / 1000);
      if (poll(fds.data(), fds.size(), ms) < 0 && errno != EINTR) continue;
      if ((fds[0].revents & POLLIN) != 0) {
        std::uint64_t count = 0;
        (void)!read(wakeFd_, &count, sizeof(count));
      }
      for (std::size_t i = 1; i < fds.size(); ++i) {
        const short r = fds[i].revents;
        if (r == 0) continue;
        ares_process_fd(channel_, (r & (POLLIN | POLLERR | POLLHUP)) != 0 ? fds[i].fd : ARES_SOCKET_BAD,
                        (r & POLLOUT) != 0 ? fds[i].fd : ARES_SOCKET_BAD);
      }
      ares_process_fd(channel_, ARES_SOCKET_BAD, ARES_SOCKET_BAD);  // timeouts
    }
  }

  void Begin(Job job) {
    auto* check = new Check{this, std::move(job), {}, {}, 0, false, false};
    if (!ParseAddress(check->job.address, check->address)) {
      Done(check, Verdict::Unknown);  // not an address DNS can be asked about
      return;
    }
    check->counted = true;
    ++inFlight_;
    ares_query(channel_, ReverseName(check->address).c_str(), ns_c_in, ns_t_ptr, &OnPtr, check);
  }

  static void OnPtr(void* arg, int status, int, unsigned char* answer, int length) {
    auto* check = static_cast<Check*>(arg);
    check->owner->Reverse(check, status, answer, length);
  }

  static void OnForward(void* arg, int status, int, unsigned char* answer, int length) {
    auto* check = static_cast<Check*>(arg);
    check->owner->Forward(check, status, answer, length);
  }

  void Reverse(Check* check, int status, unsigned char* answer, int length) {
    if (status == ARES_SUCCESS) {
      hostent* host = nullptr;
      status = ares_parse_ptr_reply(answer, length, check->address.bytes, static_cast<int>(check->address.size),
                                    check->address.family, &host);
      if (status == ARES_SUCCESS && host != nullptr) {
        const auto take = [&](const char* name) {
          if (name == nullptr || check->names.size() >= options_.maxForwardNames) return;
          if (!NameWithin(name, check->job.crawler->suffixes)) return;
          for (const std::string& known : check->names) {
            if (known == name) return;
          }
          check->names.emplace_back(name);
        };
        take(host->h_name);
        for (char** alias = host->h_aliases; alias != nullptr && *alias != nullptr; ++alias) take(*alias);
      }
      if (host != nullptr) ares_free_hostent(host);
    }
    if (status != ARES_SUCCESS) {
      // No PTR record at all is a fake: every verifiable crawler has one.
      Done(check, IsNegative(status) ? Verdict::Fake : Verdict::Unknown);
      return;
    }
    if (check->names.empty()) {
      Done(check, Verdict::Fake);  // named, but outside the crawler's domains
      return;
    }
    LookUpNext(check);
  }

  void LookUpNext(Check* check) {
    if (check->next == check->names.size()) {
      Done(check, check->failed ? Verdict::Unknown : Verdict::Fake);
      return;
    }
    const int type = check->address.family == AF_INET ? ns_t_a : ns_t_aaaa;
    ares_query(channel_, check->names[check->next].c_str(), ns_c_in, type, &OnForward, check);
  }

  void Forward(Check* check, int status, unsigned char* answer, int length) {
    if (status == ARES_SUCCESS) {
      hostent* host = nullptr;
      status = check->address.family == AF_INET
                   ? ares_parse_a_reply(answer, length, &host, nullptr, nullptr)
                   : ares_parse_aaaa_reply(answer, length, &host, nullptr, nullptr);
      bool match = false;
      if (status == ARES_SUCCESS && host != nullptr &&
          static_cast<std::size_t>(host->h_length) == check->address.size) {
        for (char** a = host->h_addr_list; a != nullptr && *a != nullptr; ++a) {
          if (std::memcmp(*a, check->address.bytes, check->address.size) == 0) match = true;
        }
      }
      if (host != nullptr) ares_free_hostent(host);
      if (match) {
        Done(check, Verdict::Verified);
        return;
      }
    }
    // A name that does not map back is no confirmation; one whose look-up
    // failed leaves the check open to an unknown.
    if (status != ARES_SUCCESS && !IsNegative(status)) check->failed = true;
    ++check->next;
    LookUpNext(check);
  }

  void Done(Check* check, Verdict verdict) {
    if (check->counted) --inFlight_;
    if (!stopping_.load()) source_.Finish(check->job, verdict);
    delete check;
  }

  ResolverOptions options_;
  VerificationSource& source_;
  ares_channel channel_ = nullptr;
  int wakeFd_ = -1;
  std::atomic<bool> stopping_{false};
  std::size_t inFlight_ = 0;  // the thread's own
  std::thread thread_;
};

}  // namespace

bool ResolverAvailable() { return true; }

bool ValidResolverAddress(const std::string& text) {
  std::string host = text;
  std::string port;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos) return false;
    host = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') return false;
      port = text.substr(close + 2);
    } else {
      port = "53";
    }
    in6_addr a6;
    if (inet_pton(AF_INET6, host.c_str(), &a6) != 1) return false;
  } else {
    const std::size_t colon = text.find(':');
    if (colon != std::string::npos) {
      host = text.substr(0, colon);
      port = text.substr(colon + 1);
    } else {
      port = "53";
    }
    in_addr a4;
    if (inet_pton(AF_INET, host.c_str(), &a4) != 1) return false;
  }
  if (port.empty() || port.size() > 5) return false;
  unsigned long value = 0;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned long>(c - '0');
  }
  return value >= 1 && value <= 65535;
}

std::unique_ptr<Resolver> StartResolver(const ResolverOptions& options, VerificationSource& source,
                                        std::string& problem) {
  auto resolver = std::make_unique<AresResolver>(options, source);
  if (!resolver->Init(problem)) return nullptr;
  return resolver;
}

}  // namespace sentrel::crawlers
