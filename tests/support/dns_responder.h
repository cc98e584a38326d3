// A DNS server of the tests' own on a loopback UDP port: it answers PTR, A
// and AAAA queries from a table set by the test, with a delay, a server
// failure, no such name, no answer at all, or records of any bytes; it counts
// the queries it sees and how many it held unanswered at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace sentrel::test {

class DnsResponder {
 public:
  enum class Type : std::uint16_t { A = 1, PTR = 12, AAAA = 28 };
  enum class Kind { Records, NoSuchName, ServerFailure, Silent };
  struct Answer {
    Kind kind = Kind::Records;
    // PTR records: each name as its labels, bytes as they are sent.
    std::vector<std::vector<std::string>> names;
    // A or AAAA records: address texts.
    std::vector<std::string> addresses;
    int delayMs = 0;
  };

  DnsResponder();  // listens on 127.0.0.1, a free port
  ~DnsResponder();
  DnsResponder(const DnsResponder&) = delete;
  DnsResponder& operator=(const DnsResponder&) = delete;

  // "127.0.0.1:PORT", as CrawlerResolver names it.
  std::string Server() const { return "127.0.0.1:" + std::to_string(port_); }
  // Queries for a name not set are answered "no such name".
  void Set(const std::string& name, Type type, Answer answer);

  int Queries(const std::string& name, Type type);
  int TotalQueries() const { return total_.load(); }
  // The most queries received and not yet answered at one time (queries
  // never answered are not counted).
  int MostHeld() const { return mostHeld_.load(); }

  // "4.3.2.1.in-addr.arpa" for "1.2.3.4".
  static std::string ReverseName(const std::string& ipv4);
  // The labels of a dotted name.
  static std::vector<std::string> Labels(const std::string& name);

 private:
  struct Due {
    std::int64_t atMs;
    std::string packet;
    std::vector<unsigned char> peer;
  };
  void Run();
  void Handle(const unsigned char* query, std::size_t size, const void* peer, unsigned peerSize);

  int socket_ = -1;
  int stopFd_ = -1;
  int port_ = 0;
  std::mutex mutex_;
  std::map<std::pair<std::string, std::uint16_t>, Answer> answers_;
  std::map<std::pair<std::string, std::uint16_t>, int> counts_;
  std::vector<Due> due_;  // the responder thread's own
  std::atomic<int> total_{0};
  std::atomic<int> mostHeld_{0};
  std::thread thread_;
};

}  // namespace sentrel::test
