// Fuzz target: the Ethernet answer parser. The input is a caller's buffer
// size and a script of answers; the response exchange and then the line
// reader take the answers as the card's, and nothing they do may write
// beyond the caller's max + 1 characters, report more characters than were
// stored, or leave the reader's place outside the fetched text.
//
// Input: byte 0 gives max (1 to 256); then answers, each a 2-byte length
// (little-endian) and that many bytes. A length of 0xFFFF is a failed
// exchange; lengths above what the receive asks for fail as an oversized
// datagram does.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "fuzz_replay.h"
#include "link/eth_response.h"

namespace {

using zimo::corvan::EthPeer;
using zimo::corvan::EthReceiveState;
using zimo::corvan::EthRequest;

constexpr std::uint16_t kFailedExchange = 0xFFFF;
constexpr int kLineCalls = 64;

class ScriptPeer : public EthPeer {
 public:
  ScriptPeer(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::optional<std::size_t> Exchange(const EthRequest&, std::string_view, std::uint32_t,
                                      char* answer, std::size_t max) override {
    if (at_ + 2 > size_) return std::nullopt;
    const std::uint16_t length = static_cast<std::uint16_t>(data_[at_] | data_[at_ + 1] << 8);
    at_ += 2;
    if (length == kFailedExchange) return std::nullopt;
    const std::size_t n = std::min<std::size_t>(length, size_ - at_);
    const std::uint8_t* bytes = data_ + at_;
    at_ += n;
    if (n > max) return std::nullopt;
    std::memcpy(answer, bytes, n);
    return n;
  }
  int ReportFailure() override { return 0; }
  void RestoreReplyFormat() override {}
  void StoreUnsolicited(const char* text, std::size_t length) override {
    // The text lies in the reader's buffer: touch all of it.
    volatile char sink = 0;
    for (std::size_t i = 0; i < length; ++i) sink = static_cast<char>(sink ^ text[i]);
  }
  bool exhausted() const { return at_ + 2 > size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint32_t max = 1 + data[0] % 256;
  ScriptPeer peer(data + 1, size - 1);
  EthReceiveState state;
  // Exactly max + 1 bytes, so that a sanitizer sees any write beyond.
  auto buffer = std::make_unique<char[]>(max + 1);

  const std::uint32_t word =
      zimo::corvan::CollectEthResponse(peer, state, "I10", buffer.get(), max);
  Check((word & 0x0FFFFFFF) <= max);
  Check(std::strlen(buffer.get()) <= max);
  Check(!state.HasUnread());

  for (int i = 0; i < kLineCalls && !peer.exhausted(); ++i) {
    std::uint32_t count = 0;
    zimo::corvan::ReadEthLine(peer, state, buffer.get(), max, &count);
    Check(count <= max);
    Check(std::strlen(buffer.get()) <= max);
    Check(state.scan <= state.end && state.end <= state.buffer.size());
  }
  return 0;
}

// Generated inputs for the replay driver: answers of random lengths made of
// the bytes the parser looks at (CR, LF, ACK, BEL, STX, digits) and others.
namespace zimo::testing {

const int kFuzzGeneratedInputs = 20000;

std::vector<std::uint8_t> FuzzGenerate(std::mt19937& random) {
  static const std::uint8_t kAlphabet[] = {'\r', '\n', 0x06, 0x07, 0x02, '0', '3', 'E', 'R', 'x', 0};
  std::vector<std::uint8_t> input;
  input.push_back(static_cast<std::uint8_t>(random()));
  const int answers = 1 + random() % 6;
  for (int a = 0; a < answers; ++a) {
    std::uint16_t length;
    switch (random() % 5) {
      case 0: length = 1400; break;
      case 1: length = 0xFFFF; break;
      case 2: length = static_cast<std::uint16_t>(1401 + random() % 200); break;
      default: length = static_cast<std::uint16_t>(random() % 40); break;
    }
    input.push_back(static_cast<std::uint8_t>(length));
    input.push_back(static_cast<std::uint8_t>(length >> 8));
    if (length == 0xFFFF) continue;
    for (int i = 0; i < length; ++i) {
      input.push_back(random() % 4 == 0 ? static_cast<std::uint8_t>(random())
                                        : kAlphabet[random() % sizeof kAlphabet]);
    }
  }
  return input;
}

}  // namespace zimo::testing
