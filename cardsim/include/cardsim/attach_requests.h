// The card's request layer: the 8-byte request header {RequestType, Request,
// wValue, wIndex, wLength} and payload that the card's network port takes,
// and the server that answers each request from the card's side: command
// lines and their text output, DPR blocks, bits and bit fields, port
// registers, program download blocks, rotary data, firmware blocks and the
// card's IP address.
//
// The server is transport-free: the Ethernet attachment cuts requests out of
// datagrams or a TCP stream and sends back what Handle() answers. The USB
// port's vendor requests share most of these codes and can be served by the
// same class once its own codes are added.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "cardsim/attach_text.h"
#include "cardsim/card.h"

namespace zimo::cardsim {

namespace request {
inline constexpr uint8_t kHostToCard = 0x40;
inline constexpr uint8_t kCardToHost = 0xC0;

inline constexpr uint8_t kSendLine = 0xB0;
inline constexpr uint8_t kFlush = 0xB3;
inline constexpr uint8_t kReadDpr = 0xB4;
inline constexpr uint8_t kWriteDpr = 0xB5;
inline constexpr uint8_t kSendChar = 0xB6;
inline constexpr uint8_t kSetDprBit = 0xBA;
inline constexpr uint8_t kSetDprBits = 0xBB;
inline constexpr uint8_t kWritePort = 0xBE;
inline constexpr uint8_t kGetResponse = 0xBF;
inline constexpr uint8_t kReadReady = 0xC2;
inline constexpr uint8_t kControlResponse = 0xC4;
inline constexpr uint8_t kReadPending = 0xC5;
inline constexpr uint8_t kDownloadBlock = 0xC6;
inline constexpr uint8_t kRotaryPut = 0xC8;
inline constexpr uint8_t kRotaryInit = 0xCA;
inline constexpr uint8_t kFirmwareBlock = 0xCB;
inline constexpr uint8_t kClose = 0xD0;
inline constexpr uint8_t kIpAddress = 0xE0;

// A packet is built in 1500 bytes: 8 of header, at most 1492 of payload.
inline constexpr size_t kHeaderSize = 8;
inline constexpr size_t kMaxPayload = 1492;
// Text answers travel in pieces of at most this many bytes; the host asks
// for the rest with kReadPending.
inline constexpr size_t kAnswerPiece = 1400;
}  // namespace request

struct RequestHeader {
  uint8_t request_type = 0;
  uint8_t request = 0;
  uint16_t value = 0;   // wValue
  uint16_t index = 0;   // wIndex
  uint16_t length = 0;  // wLength: payload length, or the length of the answer asked for

  // The three 16-bit words are big-endian on the wire. Parse needs at least
  // request::kHeaderSize bytes.
  static std::optional<RequestHeader> Parse(std::string_view bytes);
  std::string Encode() const;
};

// How many payload bytes follow this header on the wire, or nothing when the
// header is not a request the card knows (unknown RequestType or code) or
// announces more payload than a packet can hold. For kIpAddress the
// 4 bytes are announced by both the read and the write form.
std::optional<size_t> PayloadLength(const RequestHeader& header);

// What the card sends back for one request.
struct RequestAnswer {
  bool send = false;  // false: the card answers nothing (refused or muted)
  std::string bytes;  // the answer; it carries no header
  // Send only after this long (a scripted reply delay).
  std::chrono::microseconds delay{0};
};

class RequestServer {
 public:
  // `ip_address`: the card's own address, first number in the top byte.
  RequestServer(Card& card, uint32_t ip_address);
  RequestServer(const RequestServer&) = delete;
  RequestServer& operator=(const RequestServer&) = delete;

  // One request. `payload` must hold exactly PayloadLength(header) bytes;
  // anything else is refused (no answer).
  RequestAnswer Handle(const RequestHeader& header, std::string_view payload);

  // Requests refused without an answer (malformed, unknown, out of range in a
  // way that leaves nothing to answer), for tests and the program's log.
  uint64_t refused() const;

  // The card's side of a rotary put (the staged commands into the ring of
  // descriptor `buffer`; the answer word) and of a rotary init, also used by
  // the USB port's vendor requests.
  uint32_t PutRotary(uint16_t buffer, std::string_view staged);
  bool InitRotary(uint16_t buffer);

 private:
  using Clock = std::chrono::steady_clock;

  RequestAnswer One(uint8_t byte);
  RequestAnswer Refuse();
  RequestAnswer AnswerPending(size_t max);

  Card& card_;
  mutable std::mutex mu_;
  TextPort text_{card_, request::kMaxPayload};
  uint8_t ip_[4];
  uint8_t registers_[17] = {};
  uint64_t refused_ = 0;
};

}  // namespace zimo::cardsim
