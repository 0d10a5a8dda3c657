#include "cardsim/attach_requests.h"

#include <algorithm>
#include <cstring>

#include "cardsim/memory.h"

namespace zimo::cardsim {
namespace {

uint16_t BigEndian16(std::string_view b, size_t at) {
  return static_cast<uint16_t>((static_cast<uint8_t>(b[at]) << 8) | static_cast<uint8_t>(b[at + 1]));
}

// Values inside payloads and answers are in the host's order (little-endian).
uint32_t Little32(std::string_view b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[at + i]);
  return v;
}

std::string LittleBytes32(uint32_t v) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

}  // namespace

std::optional<RequestHeader> RequestHeader::Parse(std::string_view bytes) {
  if (bytes.size() < request::kHeaderSize) return std::nullopt;
  RequestHeader h;
  h.request_type = static_cast<uint8_t>(bytes[0]);
  h.request = static_cast<uint8_t>(bytes[1]);
  h.value = BigEndian16(bytes, 2);
  h.index = BigEndian16(bytes, 4);
  h.length = BigEndian16(bytes, 6);
  return h;
}

std::string RequestHeader::Encode() const {
  std::string out(request::kHeaderSize, '\0');
  out[0] = static_cast<char>(request_type);
  out[1] = static_cast<char>(request);
  const uint16_t words[3] = {value, index, length};
  for (int i = 0; i < 3; ++i) {
    out[2 + 2 * i] = static_cast<char>(words[i] >> 8);
    out[3 + 2 * i] = static_cast<char>(words[i] & 0xFF);
  }
  return out;
}

std::optional<size_t> PayloadLength(const RequestHeader& header) {
  if (header.request_type != request::kHostToCard && header.request_type != request::kCardToHost) {
    return std::nullopt;
  }
  switch (header.request) {
    // wLength counts the payload.
    case request::kSendLine:
    case request::kWriteDpr:
    case request::kGetResponse:
    case request::kDownloadBlock:
    case request::kRotaryPut:
    case request::kFirmwareBlock:
      if (header.length > request::kMaxPayload) return std::nullopt;
      return header.length;
    case request::kSetDprBit:
      return 4;
    case request::kSetDprBits:
      return 8;
    case request::kIpAddress:
      return 4;
    // wLength is the size of the answer asked for (or 0): nothing follows.
    case request::kFlush:
    case request::kReadDpr:
    case request::kSendChar:
    case request::kWritePort:
    case request::kReadReady:
    case request::kControlResponse:
    case request::kReadPending:
    case request::kRotaryInit:
    case request::kClose:
      return 0;
    default:
      return std::nullopt;
  }
}

RequestServer::RequestServer(Card& card, uint32_t ip_address) : card_(card) {
  for (int i = 0; i < 4; ++i) ip_[i] = static_cast<uint8_t>(ip_address >> (24 - 8 * i));
}

uint64_t RequestServer::refused() const {
  std::lock_guard lock(mu_);
  return refused_;
}

RequestAnswer RequestServer::One(uint8_t byte) {
  return RequestAnswer{true, std::string(1, static_cast<char>(byte)), {}};
}

RequestAnswer RequestServer::Refuse() {
  ++refused_;
  return RequestAnswer{};
}

RequestAnswer RequestServer::Handle(const RequestHeader& header, std::string_view payload) {
  std::lock_guard lock(mu_);
  const std::optional<size_t> expected = PayloadLength(header);
  if (!expected) return Refuse();
  const bool ip_read = header.request == request::kIpAddress &&
                       header.request_type == request::kCardToHost && payload.empty();
  if (payload.size() != *expected && !ip_read) return Refuse();

  Memory& memory = card_.memory();
  const size_t offset = header.value;
  RequestAnswer answer;
  switch (header.request) {
    case request::kSendLine: {
      // The text comes without CR; a NUL ends it, and a CR inside starts a
      // further line, as on the card's serial port.
      text_.TakeText(payload);
      answer = One(1);
      break;
    }
    case request::kFlush:
      text_.Flush();
      answer = One(1);
      break;
    case request::kReadDpr: {
      if (header.length == 0 || offset + header.length > Memory::kDprSize) {
        ++refused_;
        answer = RequestAnswer{true, {}, {}};  // an empty answer: nothing could be read
        break;
      }
      std::string bytes(header.length, '\0');
      memory.ReadDpr(offset, bytes.data(), bytes.size());
      answer = RequestAnswer{true, std::move(bytes), {}};
      break;
    }
    case request::kWriteDpr: {
      const bool inside = !payload.empty() && offset + payload.size() <= Memory::kDprSize;
      if (inside) memory.WriteDpr(offset, payload.data(), payload.size());
      answer = One(inside ? 1 : 0);
      break;
    }
    case request::kSendChar:
      text_.TakeCharacter(static_cast<char>(header.value & 0xFF));
      answer = One(1);
      break;
    case request::kSetDprBit:
    case request::kSetDprBits: {
      if (offset + 4 > Memory::kDprSize) {
        answer = One(0);
        break;
      }
      const uint32_t old = memory.DprDword(offset);
      uint32_t now;
      if (header.request == request::kSetDprBit) {
        const uint32_t mask = Little32(payload, 0);
        now = header.index != 0 ? (old | mask) : (old & mask);
      } else {
        now = (old & Little32(payload, 0)) | Little32(payload, 4);
      }
      memory.SetDprDword(offset, now);
      answer = One(1);
      break;
    }
    case request::kWritePort: {
      const unsigned reg = header.value & 0xFF;
      const uint8_t value = header.index & 0xFF;
      if (reg >= sizeof(registers_)) {
        answer = One(0);
        break;
      }
      registers_[reg] = value;
      // Register 7 is the port's data register: the byte goes to the interpreter.
      if (reg == 7) text_.TakeCharacter(static_cast<char>(value));
      answer = One(1);
      break;
    }
    case request::kGetResponse: {
      // A command with response answers this command's text only.
      text_.Flush();
      const Reply reply = card_.Execute(payload.substr(0, payload.find('\0')));
      if (reply.silent) {
        answer = RequestAnswer{};
        break;
      }
      std::string bytes = card_.Format(reply);
      const size_t first = std::min(bytes.size(), request::kAnswerPiece);
      text_.pending() = bytes.substr(first);
      text_.ready_at() = Clock::now() + reply.delay;
      answer = RequestAnswer{true, bytes.substr(0, first), reply.delay};
      break;
    }
    case request::kReadReady: {
      const bool ready = text_.OutputReady();
      answer = RequestAnswer{true, std::string{static_cast<char>(ready ? 1 : 0), '\0'}, {}};
      break;
    }
    case request::kControlResponse: {
      const char c = static_cast<char>(header.value & 0xFF);
      if (c == ctrl::kCtrlX) {
        text_.Flush();
      }
      const Reply reply = card_.Control(c);
      if (reply.silent) {
        answer = RequestAnswer{};
        break;
      }
      std::string bytes = card_.Format(reply);
      if (bytes.empty()) bytes.assign(1, ctrl::kAck);  // something must come back
      // The card never sends more than the host asked for.
      if (bytes.size() > header.length) bytes.resize(header.length);
      answer = RequestAnswer{true, std::move(bytes), reply.delay};
      break;
    }
    case request::kReadPending:
      answer = AnswerPending(header.length);
      break;
    case request::kDownloadBlock:
      answer = RequestAnswer{true, LittleBytes32(card_.ExecuteBlock(payload)), {}};
      break;
    case request::kRotaryPut:
      answer = RequestAnswer{true, LittleBytes32(PutRotary(header.value, payload)), {}};
      break;
    case request::kRotaryInit:
      answer = One(InitRotary(header.value) ? 1 : 0);
      break;
    case request::kFirmwareBlock:
      if (!card_.InBootstrap()) {
        answer = One(0);
        break;
      }
      card_.LoadFirmwareBlock(payload, header.value == 1);
      answer = One(1);
      break;
    case request::kClose:
      answer = One(1);
      break;
    case request::kIpAddress:
      // The write form stores the address the card reports from now on.
      if (header.request_type == request::kHostToCard) std::memcpy(ip_, payload.data(), 4);
      answer = RequestAnswer{true, std::string(reinterpret_cast<const char*>(ip_), 4), {}};
      break;
    default:
      return Refuse();
  }
  // A muted card takes everything in and answers nothing.
  if (card_.script().muted()) answer.send = false;
  return answer;
}

RequestAnswer RequestServer::AnswerPending(size_t max) {
  RequestAnswer answer{true, {}, {}};
  const Clock::time_point now = Clock::now();
  // Unsolicited messages go out one per answer, so that each arrives as an
  // STX line of its own.
  if (text_.pending().empty() && !text_.StartUnsolicited()) {
    // Nothing waits: an empty, complete response.
    text_.pending().assign(1, ctrl::kAck);
    text_.ready_at() = now;
  }
  answer.delay = text_.Delay();
  const size_t n = std::min(max, text_.pending().size());
  answer.bytes = text_.pending().substr(0, n);
  text_.pending().erase(0, n);
  return answer;
}

// The card's side of a rotary put over the network: the staged commands
// land in the ring of descriptor `buffer`, host-side records in the card's
// own memory (Card::RotaryPutNetwork). The answer's low 16 bits are the
// bytes taken, bits 16-23 the card's code.
uint32_t RequestServer::PutRotary(uint16_t buffer, std::string_view staged) {
  return card_.RotaryPutNetwork(buffer, staged);
}

bool RequestServer::InitRotary(uint16_t buffer) { return card_.RotaryInit(buffer); }

}  // namespace zimo::cardsim
