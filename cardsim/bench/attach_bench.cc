// Commands per second through the simulated card: the interpreter alone,
// its byte-stream framing, and whole exchanges over the pseudo-terminal,
// UDP, TCP and the DPR mailbox.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <string>

#include "cardsim/attach_bus.h"
#include "cardsim/attach_eth.h"
#include "cardsim/attach_pty.h"
#include "cardsim/card.h"

namespace zimo::cardsim {
namespace {

namespace rq = request;

void BM_Execute(benchmark::State& state, const char* line) {
  Card card(CardModel::Older());
  for (auto _ : state) benchmark::DoNotOptimize(card.Execute(line));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_Execute, ReadIVar, "I10");
BENCHMARK_CAPTURE(BM_Execute, Expression, "P1=P1+1.5*P2");

void BM_Feed(benchmark::State& state) {
  Card card(CardModel::Older());
  for (auto _ : state) benchmark::DoNotOptimize(card.Feed("I10\r"));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Feed);

void BM_PtyRoundTrip(benchmark::State& state) {
  Card card(CardModel::Older());
  auto pty = PtyAttachment::Start(card);
  if (!pty) {
    state.SkipWithError(pty.status().ToString().c_str());
    return;
  }
  const int fd = ::open((*pty)->slave_path().c_str(), O_RDWR | O_NOCTTY);
  termios tio{};
  ::tcgetattr(fd, &tio);
  ::cfmakeraw(&tio);
  ::tcsetattr(fd, TCSANOW, &tio);
  char buffer[256];
  for (auto _ : state) {
    if (::write(fd, "I10\r", 4) != 4) break;
    // Until the ACK that ends the reply.
    for (bool done = false; !done;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 5000) <= 0) {
        state.SkipWithError("no reply");
        break;
      }
      const ssize_t n = ::read(fd, buffer, sizeof(buffer));
      done = n > 0 && buffer[n - 1] == '\x06';
    }
  }
  ::close(fd);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PtyRoundTrip)->UseRealTime();

void BM_EthRoundTrip(benchmark::State& state, int type) {
  Card card(CardModel::Older());
  const std::string address = "127.0.3." + std::to_string(type == SOCK_DGRAM ? 1 : 2);
  auto eth = EthAttachment::Start(card, EthOptions{address, 0, type == SOCK_DGRAM,
                                                   type == SOCK_STREAM});
  if (!eth) {
    state.SkipWithError(eth.status().ToString().c_str());
    return;
  }
  const int fd = ::socket(AF_INET, type, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(type == SOCK_DGRAM ? (*eth)->udp_port() : (*eth)->tcp_port());
  ::inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
  const int one = 1;
  if (type == SOCK_STREAM) ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
  const std::string packet =
      RequestHeader{rq::kHostToCard, rq::kGetResponse, 0, 0, 3}.Encode() + "I10";
  char buffer[2048];
  for (auto _ : state) {
    ::send(fd, packet.data(), packet.size(), 0);
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0 || ::recv(fd, buffer, sizeof(buffer), 0) <= 0) {
      state.SkipWithError("no answer");
      break;
    }
  }
  ::close(fd);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(BM_EthRoundTrip, Udp, SOCK_DGRAM)->UseRealTime();
BENCHMARK_CAPTURE(BM_EthRoundTrip, Tcp, SOCK_STREAM)->UseRealTime();

// A whole mailbox exchange as a driver makes it (the clock is simulated, so
// this measures the work, not waiting).
void BM_MailboxRoundTrip(benchmark::State& state) {
  Card card(CardModel::Older());
  card.SetIVar(58, 1);
  BusAttachment bus(card);
  const MailboxLayout& l = bus.mailbox_layout();
  for (auto _ : state) {
    bus.WriteDpr(l.host_text, "I10", 4);
    bus.WriteDpr16(l.host_flag, 1);
    for (bool ack = false; !ack;) {
      uint16_t status = 0;
      while ((status = bus.ReadDpr16(l.card_status)) == 0) bus.Stall(std::chrono::microseconds(5));
      ack = status == 6;
      bus.WriteDpr16(l.card_status, 0);
    }
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MailboxRoundTrip);

}  // namespace
}  // namespace zimo::cardsim

BENCHMARK_MAIN();
