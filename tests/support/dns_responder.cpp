#include "tests/support/dns_responder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace sentrel::test {

namespace {

std::int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void Put16(std::string& out, unsigned value) {
  out += static_cast<char>((value >> 8) & 0xff);
  out += static_cast<char>(value & 0xff);
}

}  // namespace

DnsResponder::DnsResponder() {
  socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof(a);
  if (socket_ < 0 || bind(socket_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 ||
      getsockname(socket_, reinterpret_cast<sockaddr*>(&a), &size) != 0) {
    throw std::runtime_error("DnsResponder: no loopback UDP port");
  }
  port_ = ntohs(a.sin_port);
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this] { Run(); });
}

DnsResponder::~DnsResponder() {
  const std::uint64_t one = 1;
  (void)!write(stopFd_, &one, sizeof(one));
  thread_.join();
  close(stopFd_);
  close(socket_);
}

void DnsResponder::Set(const std::string& name, Type type, Answer answer) {
  std::lock_guard<std::mutex> hold(mutex_);
  answers_[{name, static_cast<std::uint16_t>(type)}] = std::move(answer);
}

int DnsResponder::Queries(const std::string& name, Type type) {
  std::lock_guard<std::mutex> hold(mutex_);
  auto it = counts_.find({name, static_cast<std::uint16_t>(type)});
  return it == counts_.end() ? 0 : it->second;
}

std::string DnsResponder::ReverseName(const std::string& ipv4) {
  in_addr a{};
  inet_pton(AF_INET, ipv4.c_str(), &a);
  const auto* b = reinterpret_cast<const unsigned char*>(&a);
  return std::to_string(b[3]) + "." + std::to_string(b[2]) + "." + std::to_string(b[1]) + "." +
         std::to_string(b[0]) + ".in-addr.arpa";
}

std::vector<std::string> DnsResponder::Labels(const std::string& name) {
  std::vector<std::string> labels;
  std::size_t from = 0;
  while (from <= name.size()) {
    const std::size_t dot = name.find('.', from);
    labels.push_back(name.substr(from, dot - from));
    if (dot == std::string::npos) break;
    from = dot + 1;
  }
  return labels;
}

void DnsResponder::Run() {
  unsigned char buffer[4096];
  for (;;) {
    int wait = -1;
    const std::int64_t now = NowMs();
    for (const Due& d : due_) {
      const int left = static_cast<int>(d.atMs > now ? d.atMs - now : 0);
      if (wait < 0 || left < wait) wait = left;
    }
    pollfd fds[2] = {{socket_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    poll(fds, 2, wait);
    if ((fds[1].revents & POLLIN) != 0) return;
    if ((fds[0].revents & POLLIN) != 0) {
      sockaddr_storage peer{};
      socklen_t peerSize = sizeof(peer);
      const ssize_t n = recvfrom(socket_, buffer, sizeof(buffer), 0, reinterpret_cast<sockaddr*>(&peer), &peerSize);
      if (n > 0) Handle(buffer, static_cast<std::size_t>(n), &peer, peerSize);
    }
    const std::int64_t later = NowMs();
    for (std::size_t i = 0; i < due_.size();) {
      if (due_[i].atMs > later) {
        ++i;
        continue;
      }
      sendto(socket_, due_[i].packet.data(), due_[i].packet.size(), 0,
             reinterpret_cast<const sockaddr*>(due_[i].peer.data()), static_cast<socklen_t>(due_[i].peer.size()));
      due_.erase(due_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

void DnsResponder::Handle(const unsigned char* q, std::size_t size, const void* peer, unsigned peerSize) {
  if (size < 17) return;
  // The question: labels, then type and class.
  std::size_t at = 12;
  std::string name;
  while (at < size && q[at] != 0) {
    const std::size_t length = q[at];
    if (at + 1 + length >= size) return;
    if (!name.empty()) name += '.';
    for (std::size_t i = 0; i < length; ++i) name += static_cast<char>(std::tolower(q[at + 1 + i]));
    at += 1 + length;
  }
  if (at + 5 > size) return;
  const std::uint16_t type = static_cast<std::uint16_t>((q[at + 1] << 8) | q[at + 2]);
  const std::size_t questionEnd = at + 5;

  Answer answer;
  answer.kind = Kind::NoSuchName;
  {
    std::lock_guard<std::mutex> hold(mutex_);
    ++counts_[{name, type}];
    auto it = answers_.find({name, type});
    if (it != answers_.end()) answer = it->second;
  }
  ++total_;
  if (answer.kind == Kind::Silent) return;

  std::string records;
  int count = 0;
  if (answer.kind == Kind::Records) {
    const auto head = [&](unsigned rdLength) {
      Put16(records, 0xc00c);  // the question's name
      Put16(records, type);
      Put16(records, 1);
      Put16(records, 0);
      Put16(records, 60);
      Put16(records, rdLength);
      ++count;
    };
    if (type == static_cast<std::uint16_t>(Type::PTR)) {
      for (const auto& labels : answer.names) {
        std::string data;
        for (const std::string& label : labels) {
          data += static_cast<char>(label.size());
          data += label;
        }
        data += '\0';
        head(static_cast<unsigned>(data.size()));
        records += data;
      }
    } else {
      for (const std::string& text : answer.addresses) {
        unsigned char bytes[16];
        const bool six = type == static_cast<std::uint16_t>(Type::AAAA);
        if (inet_pton(six ? AF_INET6 : AF_INET, text.c_str(), bytes) != 1) continue;
        head(six ? 16 : 4);
        records.append(reinterpret_cast<const char*>(bytes), six ? 16 : 4);
      }
    }
  }
  const unsigned rcode = answer.kind == Kind::ServerFailure ? 2 : answer.kind == Kind::NoSuchName ? 3 : 0;
  std::string packet(reinterpret_cast<const char*>(q), 2);  // the query's id
  Put16(packet, 0x8180 | rcode);
  Put16(packet, 1);
  Put16(packet, static_cast<unsigned>(count));
  Put16(packet, 0);
  Put16(packet, 0);
  packet.append(reinterpret_cast<const char*>(q) + 12, questionEnd - 12);
  packet += records;

  Due due{NowMs() + answer.delayMs, std::move(packet),
          std::vector<unsigned char>(static_cast<const unsigned char*>(peer),
                                     static_cast<const unsigned char*>(peer) + peerSize)};
  due_.push_back(std::move(due));
  const int held = static_cast<int>(due_.size());
  int most = mostHeld_.load();
  while (held > most && !mostHeld_.compare_exchange_weak(most, held)) {
  }
}

}  // namespace sentrel::test
