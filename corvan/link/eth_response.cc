#include "link/eth_response.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <string>

#include "corvan/command_api.h"
#include "corvan/eth_api.h"
#include "link/card_text.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "link/response_lines.h"
#include "platform/codepage.h"
#include "platform/debug.h"
#include "platform/message.h"
#include "platform/socket.h"

namespace zimo::corvan {
namespace {

// The error of a line cut to the caller's buffer (the serial transport's
// "line full"); a whole response cut so gets kErrResponseCut.
constexpr std::uint32_t kEthErrResponseCut = 28;
// A card error reply: BEL, "ERR", three digits, CR.
constexpr std::size_t kErrorReplyLength = 8;
constexpr std::size_t kErrorTextLength = 7;

constexpr char kMessageTitle[] = "ZIMO TCP/IP";
constexpr char kNoUnplugMessageValue[] = "NoUnplugMessage";
constexpr char kLostConnectionText[] =
    "The vital circuit was reset by the remote side.\n"
    "Close all connections to ZIMO including ZIMOServer then replug";
constexpr char kTimeoutPromptText[] =
    "WSAETIMEDOUT! A connection attempt failed because the connected ZIMO\n"
    "did not properly respond after a period of time, or established\n"
    "connection failed because the connected host has failed to respond.\n"
    "If you unplugged the cable press yes and communication to this ZIMO\n"
    "will be terminated. If you have not powered off or unplugged your\n"
    "ZIMO the error may be due to a dropped packet";
constexpr char kNotifyPromptText[] =
    "Do you wish to receive be notified of any\npossible dropped packets in the future?";
constexpr char kServerTimeoutText[] = "WSAETIMEDOUT check keep alive";
// The numbers of the Windows Sockets errors.
constexpr std::int32_t kFirstSocketError = 10000;
constexpr std::int32_t kLastSocketError = 11999;

// Whether a time-out asks the user, per device; device 0 asks from the
// start, the others never unless told.
std::array<std::atomic<bool>, kRealDevices> g_notify_dropped_packets = {true};

// The last error of an exchange whose request or answer failed with
// `socket_error`: a time-out is the library's, a link that dropped keeps the
// socket's number (its text is the lost connection's).
std::uint32_t ExchangeFailureError(int socket_error) {
  if (socket_error == platform::wsa::kETimedOut || socket_error == platform::wsa::kEWouldBlock) {
    return static_cast<std::uint32_t>(kLinkErrTimeout);
  }
  if (socket_error > 0) return static_cast<std::uint32_t>(socket_error);
  return static_cast<std::uint32_t>(kLinkErrUnknown);
}

// Grows the receive buffer in steps to hold at least `size` bytes; its
// contents stay.
void EnsureSize(std::vector<char>& buffer, std::size_t size) {
  if (buffer.size() >= size) return;
  const std::size_t steps = (size + kEthRecvBufferStep - 1) / kEthRecvBufferStep;
  buffer.resize(steps * kEthRecvBufferStep, 0);
}

// Up to three decimal digits at `p` (fewer when the text ends or a
// non-digit comes first).
std::uint32_t ErrorNumber(const char* p, const char* end) {
  std::uint32_t number = 0;
  for (int i = 0; i < 3 && p < end && *p >= '0' && *p <= '9'; ++i, ++p) {
    number = number * 10 + static_cast<std::uint32_t>(*p - '0');
  }
  return number;
}

void Store(char* buffer, const char* text, std::size_t length) {
  if (length > 0) std::memcpy(buffer, text, length);
  buffer[length] = 0;
}

// Moves the reader past the end of a line (and the LF of a CR LF).
void Advance(EthReceiveState& state, std::size_t position) {
  const char* data = state.buffer.data();
  if (position < state.end && data[position] == kLf) ++position;
  state.scan = state.line_start = position;
  if (state.scan >= state.end) state.Empty();
}

// The next line from the fetched text, from state.scan to the first CR, ACK
// or BEL.
std::uint32_t HandOutLine(EthPeer& peer, EthReceiveState& state, char* buffer, std::uint32_t max,
                          std::uint32_t* count) {
  const char* data = state.buffer.data();
  const std::size_t s = state.scan;
  const std::size_t e = state.end;
  std::size_t p = s;
  while (p < e && data[p] != kCr && data[p] != kAck && data[p] != kBel) ++p;
  const std::size_t n = p - s;

  // A line that does not fit goes out in pieces: what fits now, the rest
  // with the next call.
  auto in_pieces = [&] {
    state.last_error = kEthErrResponseCut;
    Store(buffer, data + s, max);
    *count = max;
    state.scan = state.line_start = s + max;
    return kStatusFailure;
  };

  if (p == e || data[p] == kAck) {
    // The end of the response (text that runs out without an end is the
    // end of an LF-ended response).
    if (n > max) return in_pieces();
    Store(buffer, data + s, n);
    *count = static_cast<std::uint32_t>(n);
    state.Empty();
    return kStatusAck;
  }
  if (data[p] == kBel) {
    state.last_error = ErrorNumber(data + p + 4, data + e);
    const std::size_t stored = std::min({kErrorTextLength, e - p, std::size_t{max}});
    std::memcpy(buffer, data + p, stored);
    std::size_t end = stored;
    if (end < max) buffer[end++] = kCr;
    buffer[end] = 0;
    // The count is what the buffer holds, CR included, as on the serial line.
    *count = static_cast<std::uint32_t>(end);
    state.Empty();
    return kStatusCardError;
  }
  // A CR-ended line.
  if (n > 0 && data[s] == kStx) {
    peer.StoreUnsolicited(data + s + 1, n);  // the text after STX and its CR
    buffer[0] = 0;
    *count = 0;
    Advance(state, p + 1);
    return kStatusUnsolicited;
  }
  if (n + 1 > max) return in_pieces();
  std::memcpy(buffer, data + s, n);
  buffer[n] = kCr;
  buffer[n + 1] = 0;
  *count = static_cast<std::uint32_t>(n + 1);
  Advance(state, p + 1);
  return kStatusLine;
}

// The STX of an unsolicited line that ends the text at `end` (with its CR),
// searching back from the byte before that CR, not past a CR or BEL.
bool FindUnsolicitedStart(const char* data, std::size_t begin, std::size_t end, std::size_t* stx) {
  if (end < begin + 2) return false;
  for (std::size_t i = end - 1; i-- > begin;) {
    if (data[i] == kStx) {
      *stx = i;
      return true;
    }
    if (data[i] == kCr || data[i] == kBel) return false;
  }
  return false;
}

// The card of a device behind its socket; the caller holds the device's
// Ethernet lock.
class SocketPeer final : public EthPeer {
 public:
  SocketPeer(int device, EthSocketHolder& holder) : device_(device), holder_(holder) {}

  std::optional<std::size_t> Exchange(const EthRequest& request, std::string_view payload,
                                      std::uint32_t timeout_ms, char* answer,
                                      std::size_t max) override {
    const EthExchangeResult r =
        EthExchange(holder_, request, payload, timeout_ms, answer, max, EthAnswerKind::kText);
    if (r.received < 0) return std::nullopt;
    return static_cast<std::size_t>(r.received);
  }
  int ReportFailure() override { return EthReportSocketError(static_cast<std::uint32_t>(device_)); }
  void RestoreReplyFormat() override {
    EthSendLine(static_cast<std::uint32_t>(device_), kEthRestoreLine);
  }
  void StoreUnsolicited(const char* text, std::size_t length) override {
    App().rings().StoreUSResponse(static_cast<std::uint32_t>(device_), text,
                                  static_cast<std::uint32_t>(length));
  }

 private:
  int device_;
  EthSocketHolder& holder_;
};

// The raw pending-output read behind EthGetBuffer: true with the bytes in
// *count, or false with the socket error in *socket_error.
bool GetBuffer(int device, char* buffer, std::uint32_t max, std::uint32_t* count,
               int* socket_error) {
  *count = 0;
  *socket_error = 0;
  buffer[0] = 0;
  std::shared_ptr<EthSocketHolder> holder = EthHolderOf(device);
  EthLockGuard lock(device);
  if (EthSocketGone(holder.get())) {
    *socket_error = static_cast<int>(kEthErrNotConnected);
    return false;
  }
  const std::uint16_t ask = static_cast<std::uint16_t>(std::min<std::uint32_t>(max, 0xFFFF));
  if (ask == 0) return true;
  const EthExchangeResult r =
      EthExchange(*holder, EthRequest{eth::kCardToHost, eth::kReadPending, 0, 0, ask}, {},
                  eth::kResponseTimeoutMs, buffer, ask, EthAnswerKind::kText);
  if (r.received < 0) {
    *socket_error = EthReportSocketError(static_cast<std::uint32_t>(device));
    return false;
  }
  buffer[r.received] = 0;
  *count = static_cast<std::uint32_t>(r.received);
  return true;
}

class EthernetChannelImpl final : public AsciiChannel {
 public:
  std::uint32_t SendChar(int device, char c) override { return EthSendChar(Dev(device), c); }
  std::uint32_t SendLine(int device, const char* text) override {
    return EthSendLine(Dev(device), text);
  }
  std::uint32_t GetLine(int device, char* buffer, std::uint32_t max,
                        std::uint32_t* count) override {
    return EthGetLine(Dev(device), buffer, max, count);
  }
  std::uint32_t GetBuffer(int device, char* buffer, std::uint32_t max,
                          std::uint32_t* count) override {
    std::uint32_t n = 0;
    if (count != nullptr) *count = 0;
    if (buffer == nullptr) return kStatusFailure;
    int socket_error = 0;
    const bool ok = zimo::corvan::GetBuffer(device, buffer, max, &n, &socket_error);
    if (count != nullptr) *count = n;
    return ok ? kStatusLine : kStatusFailure;
  }
  std::uint32_t GetResponse(int device, char* buffer, std::uint32_t max,
                            const char* command) override {
    return EthGetResponse(Dev(device), buffer, max, command);
  }
  std::uint32_t GetControlResponse(int device, char* buffer, std::uint32_t max, char c) override {
    const std::int32_t n = EthGetControlResponse(
        Dev(device), buffer, static_cast<std::uint16_t>(std::min<std::uint32_t>(max, 0xFFFF)), c);
    return n < 0 ? kStatusFailure : static_cast<std::uint32_t>(n);
  }
  std::uint32_t ReadReady(int device) override { return EthReadReady(Dev(device)) & 0xFF; }
  bool Flush(int device) override {
    // A card that does not answer the flush is still there; a socket that
    // has gone is not.
    EthFlush(Dev(device));
    return EthSocketValid(EthHolderOf(device).get());
  }
  std::int32_t LastError(int device) override {
    return static_cast<std::int32_t>(EthGetLastError(Dev(device)));
  }
  void SetLastError(int device, std::int32_t code) override {
    if (std::shared_ptr<EthSocketHolder> holder = EthHolderOf(device)) {
      holder->receive.last_error = static_cast<std::uint32_t>(code);
    }
  }
  // The socket errors the link reports have the texts of the socket-error
  // report; a link torn down earlier is the lost connection's.
  const char* ErrorText(std::int32_t code) override {
    if (code == static_cast<std::int32_t>(kEthErrNotConnected)) return kLostConnectionText;
    if (code >= kFirstSocketError && code <= kLastSocketError) {
      return EthSocketErrorText(code, App().server_build());
    }
    return AsciiChannel::ErrorText(code);
  }

 private:
  static std::uint32_t Dev(int device) { return static_cast<std::uint32_t>(device); }
};

// Converts a reader's text into the caller's 16-bit buffer of max + 1;
// *count is the characters written with the terminator.
void Widen(const std::string& narrow, char16_t* buffer, std::uint32_t max, std::uint32_t* count) {
  const std::size_t written = platform::WidenInto(narrow.c_str(), buffer, std::size_t{max} + 1);
  if (count != nullptr) *count = static_cast<std::uint32_t>(written + 1);
}

}  // namespace

std::uint32_t CollectEthResponse(EthPeer& peer, EthReceiveState& state, std::string_view command,
                                 char* buffer, std::uint32_t max) {
  state.last_error = 0;
  buffer[0] = 0;
  if (command.size() > kEthMaxPayload) {
    // The command does not fit one request: nothing is sent.
    state.last_error = static_cast<std::uint32_t>(kLinkErrLineTooLong);
    return kStatusFailure;
  }
  std::vector<char>& data = state.buffer;
  EnsureSize(data, kEthChunk);
  std::optional<std::size_t> got =
      peer.Exchange(EthRequest{eth::kHostToCard, eth::kGetResponse, 0, 0,
                               static_cast<std::uint16_t>(command.size())},
                    command, eth::kResponseTimeoutMs, data.data(), kEthChunk);
  if (!got) {
    const int socket_error = peer.ReportFailure();
    state.Empty();
    state.last_error = ExchangeFailureError(socket_error);
    return kStatusFailure;
  }
  std::size_t total = 0;  // response bytes in the packets before this one
  std::size_t at = 0;     // where this packet lies in the buffer
  std::uint32_t status = kStatusLine;
  for (;;) {
    const char* packet = data.data() + at;
    const std::size_t g = std::min(*got, kEthChunk);
    const char last = g > 0 ? packet[g - 1] : 0;
    if (g > 0 && last == kAck) {
      total += g - 1;
      status = kStatusAck;
      break;
    }
    if (g < kEthChunk) {
      // The response ended without ACK. Its last packet decides what it was.
      if (g > 0 && last == kLf) {
        total += g;
        status = kStatusAck;
        peer.RestoreReplyFormat();
        break;
      }
      if (g >= kErrorReplyLength && last == kCr && packet[g - kErrorReplyLength] == kBel) {
        // A card error: the response's text with the error reply, CR and
        // all, as far as it fits.
        const char* bel = packet + g - kErrorReplyLength;
        state.last_error = ErrorNumber(bel + 4, packet + g);
        const std::size_t stored = std::min(total + g, std::size_t{max});
        Store(buffer, data.data(), stored);
        state.Empty();
        return kStatusCardError | static_cast<std::uint32_t>(stored);
      }
      // Lines without the closing ACK, or a reply cut short: the text as it
      // came, and the card's reply format restored.
      total += g;
      status = kStatusLine;
      peer.RestoreReplyFormat();
      break;
    }
    // A full packet: more follows.
    total += kEthChunk;
    if (total + kEthChunk > kEthResponseLimit) {
      status = kStatusFailure;
      state.last_error = static_cast<std::uint32_t>(kErrResponseCut);
      break;
    }
    // Beyond what the caller can take only the latest packet is kept.
    at = std::min<std::size_t>(total, max);
    EnsureSize(data, at + kEthChunk);
    got = peer.Exchange(EthRequest{eth::kCardToHost, eth::kReadPending, 0, 0, kEthChunk}, {},
                        eth::kResponseTimeoutMs, data.data() + at, kEthChunk);
    if (!got) {
      peer.ReportFailure();
      status = kStatusLine;  // what came so far, without status
      break;
    }
  }
  const std::size_t stored = std::min(total, std::size_t{max});
  if (total > stored && (status == kStatusAck || status == kStatusLine)) {
    // Cut to the caller's buffer: a failure with what was stored.
    status = kStatusFailure;
    state.last_error = static_cast<std::uint32_t>(kErrResponseCut);
  }
  Store(buffer, data.data(), stored);
  state.Empty();
  return status | static_cast<std::uint32_t>(stored);
}

std::uint32_t ReadEthLine(EthPeer& peer, EthReceiveState& state, char* buffer, std::uint32_t max,
                          std::uint32_t* count) {
  state.last_error = 0;
  buffer[0] = 0;
  *count = 0;
  if (max == 0) return kStatusFailure;  // nothing could be handed out
  if (state.HasUnread()) return HandOutLine(peer, state, buffer, max, count);

  state.Empty();
  std::size_t offset = 0;
  for (;;) {
    if (offset + kEthChunk > kEthResponseLimit) {
      state.Empty();
      return kStatusFailure;
    }
    EnsureSize(state.buffer, offset + kEthChunk);
    const std::optional<std::size_t> got =
        peer.Exchange(EthRequest{eth::kHostToCard, eth::kReadPending, 0, 0, kEthChunk}, {},
                      eth::kResponseTimeoutMs, state.buffer.data() + offset, kEthChunk);
    if (!got) {
      state.Empty();
      state.last_error = ExchangeFailureError(platform::LastSocketError());
      return kStatusFailure;
    }
    const std::size_t g = std::min(*got, kEthChunk);
    const std::size_t end = offset + g;
    state.end = end;
    const char* data = state.buffer.data();
    const char last = g > 0 ? data[end - 1] : 0;
    if (g > 0 && (last == kAck || last == kLf)) {
      return HandOutLine(peer, state, buffer, max, count);
    }
    if (g == kEthChunk) {
      // A full packet that ends with a card error ends the response; any
      // other one has more behind it.
      if (last == kCr && end >= kErrorReplyLength && data[end - kErrorReplyLength] == kBel) {
        return HandOutLine(peer, state, buffer, max, count);
      }
      offset = end;
      continue;
    }
    if (g == 0 || last != kCr) {
      // A reply cut short: it cannot be read as lines.
      peer.RestoreReplyFormat();
      state.Empty();
      return kStatusLine;
    }
    std::size_t stx = 0;
    if (FindUnsolicitedStart(data, state.scan, end, &stx)) {
      peer.StoreUnsolicited(data + stx + 1, end - stx - 1);
      // Lines in front of the message stay for the next calls.
      state.end = stx;
      if (state.end <= state.scan) state.Empty();
      return kStatusUnsolicited;
    }
    return HandOutLine(peer, state, buffer, max, count);
  }
}

const char* EthSocketErrorText(int socket_error, bool server_build) {
  switch (socket_error) {
    case platform::wsa::kEMFile:
      return "No more file descripters available";
    case platform::wsa::kEWouldBlock:
      return "The socket is marked as non blocking and the requested operation would block";
    case platform::wsa::kEInProgress:
      return "The socket is in progress";
    case platform::wsa::kEMsgSize:
      return "The datagram was too larget to fit into the specified buffer and was truncated";
    case platform::wsa::kEPrototype:
      return "Specified port is the wrong type for this socket";
    case platform::wsa::kEProtoNoSupport:
      return "Specified port is not supported";
    case platform::wsa::kESocktNoSupport:
      return "Specified socket type is not supported in this address";
    case platform::wsa::kEAfNoSupport:
      return "Specified address family not supported";
    case platform::wsa::kENetDown:
      return "Network subsytem failed";
    case platform::wsa::kEConnAborted:
    case platform::wsa::kEConnReset:
      return kLostConnectionText;
    case platform::wsa::kENoBufs:
      return "No buffer space is available";
    case platform::wsa::kETimedOut:
      return server_build ? kServerTimeoutText : kTimeoutPromptText;
    case platform::wsa::kNotInitialised:
      return "AfxSocketInit not called";
    default:
      return "Unknown error";
  }
}

AsciiChannel& EthernetChannel() {
  static EthernetChannelImpl channel;
  return channel;
}

}  // namespace zimo::corvan

using namespace zimo::corvan;  // NOLINT: the exports below are the library's own

extern "C" {

std::uint32_t EthGetResponse(std::uint32_t device, char* buffer, std::uint32_t max,
                             const char* command) {
  const int d = IndexFromDeviceNumber(device);
  std::shared_ptr<EthSocketHolder> holder = EthHolderOf(d);
  if (buffer != nullptr) buffer[0] = 0;
  if (EthSocketGone(holder.get())) return kStatusFailure;
  if (buffer == nullptr || command == nullptr) return kStatusFailure;
  EthLockGuard lock(d);
  if (EthSocketGone(holder.get())) return kStatusFailure;
  SocketPeer peer(d, *holder);
  return CollectEthResponse(peer, holder->receive, command, buffer, max);
}

std::uint32_t EthGetResponseW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                              const char16_t* command) {
  if (buffer == nullptr) return kStatusFailure;
  zimo::platform::NarrowText narrow_command(command);
  std::string narrow(std::size_t{max} + 1, '\0');
  const std::uint32_t word = EthGetResponse(device, narrow.data(), max, narrow_command.c_str());
  zimo::platform::WidenInto(narrow.c_str(), buffer, std::size_t{max} + 1);
  return word;
}

std::uint32_t EthGetLine(std::uint32_t device, char* buffer, std::uint32_t max,
                         std::uint32_t* count) {
  std::uint32_t ignored = 0;
  if (count == nullptr) count = &ignored;
  *count = 0;
  const int d = IndexFromDeviceNumber(device);
  std::shared_ptr<EthSocketHolder> holder = EthHolderOf(d);
  if (EthSocketGone(holder.get()) || buffer == nullptr) return kStatusFailure;
  buffer[0] = 0;
  EthLockGuard lock(d);
  if (EthSocketGone(holder.get())) return kStatusFailure;
  SocketPeer peer(d, *holder);
  return ReadEthLine(peer, holder->receive, buffer, max, count);
}

std::uint32_t EthGetLineW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                          std::uint32_t* count) {
  if (count != nullptr) *count = 0;
  if (buffer == nullptr) return kStatusFailure;
  std::string narrow(std::size_t{max} + 1, '\0');
  std::uint32_t n = 0;
  const std::uint32_t status = EthGetLine(device, narrow.data(), max, &n);
  Widen(narrow, buffer, max, count);
  return status;
}

std::int32_t EthGetBuffer(std::uint32_t device, char* buffer, std::uint32_t max,
                          std::uint32_t* count) {
  std::uint32_t ignored = 0;
  if (count == nullptr) count = &ignored;
  *count = 0;
  if (buffer == nullptr) return -1;
  int socket_error = 0;
  if (GetBuffer(IndexFromDeviceNumber(device), buffer, max, count, &socket_error)) {
    return static_cast<std::int32_t>(*count);
  }
  return socket_error == zimo::platform::wsa::kEWouldBlock ? socket_error : -1;
}

std::int32_t EthGetBufferW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                           std::uint32_t* count) {
  if (count != nullptr) *count = 0;
  if (buffer == nullptr) return -1;
  std::string narrow(std::size_t{max} + 1, '\0');
  std::uint32_t n = 0;
  const std::int32_t result = EthGetBuffer(device, narrow.data(), max, &n);
  Widen(narrow, buffer, max, count);
  return result;
}

std::int32_t EthGetControlResponse(std::uint32_t device, char* buffer, std::uint16_t max,
                                   char character) {
  if (buffer != nullptr) buffer[0] = 0;
  if (character == kCtrlX) return EthFlush(device);
  const int d = IndexFromDeviceNumber(device);
  std::shared_ptr<EthSocketHolder> holder = EthHolderOf(d);
  if (EthSocketGone(holder.get()) || buffer == nullptr) return -1;
  if (max == 0) return 0;
  EthLockGuard lock(d);
  if (EthSocketGone(holder.get())) return -1;
  holder->receive.last_error = 0;
  holder->receive.Empty();
  const EthExchangeResult r = EthExchange(*holder,
                                          EthRequest{eth::kCardToHost, eth::kControlResponse,
                                                     static_cast<std::uint8_t>(character), 0, max},
                                          {}, eth::kKept, buffer, max, EthAnswerKind::kText);
  if (r.received < 0) {
    buffer[0] = 0;
    const int code = EthReportSocketError(device);
    holder->receive.last_error = ExchangeFailureError(code);
    return code == zimo::platform::wsa::kEWouldBlock ? code : -1;
  }
  std::size_t n = static_cast<std::size_t>(r.received);
  switch (character) {
    case 2:
    case 3:
    case 6:
    case 7:
    case 16:
    case 22:
      break;
    default:
      // The card's answer to the other characters carries nothing to read.
      buffer[0] = 0;
      return 0;
  }
  if (n > 0 && buffer[n - 1] == kAck) --n;  // the closing ACK is not text
  buffer[n] = 0;
  return static_cast<std::int32_t>(n);
}

std::int32_t EthGetControlResponseW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                                    char16_t character) {
  if (buffer == nullptr) return -1;
  const std::uint16_t narrow_max = static_cast<std::uint16_t>(std::min<std::uint32_t>(max, 0xFFFF));
  std::string narrow(std::size_t{narrow_max} + 1, '\0');
  const std::int32_t result = EthGetControlResponse(device, narrow.data(), narrow_max,
                                                    zimo::platform::Utf16ToCp1252Char(character));
  zimo::platform::WidenInto(narrow.c_str(), buffer, std::size_t{max} + 1);
  return result;
}

std::uint32_t EthGetLastError(std::uint32_t device) {
  std::shared_ptr<EthSocketHolder> holder = EthHolderOf(IndexFromDeviceNumber(device));
  return holder != nullptr ? holder->receive.last_error : 0;
}

std::int32_t EthReportSocketError(std::uint32_t device) {
  const int code = zimo::platform::LastSocketError();
  const int d = IndexFromDeviceNumber(device);
  const bool server = App().server_build();
  namespace wsa = zimo::platform::wsa;
  namespace box = zimo::platform;

  if (code == wsa::kEConnAborted || code == wsa::kEConnReset) {
    // Link dropped: release this process's socket; the next process to open
    // the device will set up a fresh connection.
    std::uint32_t no_unplug_message = 0;
    if (!server) GetDeviceLocationDword(d, kNoUnplugMessageValue, &no_unplug_message, 0);
    EthTearDown(d, !server);
    if (!server) {
      zimo::platform::DebugOutput(kLostConnectionText);
      if (no_unplug_message == 0) {
        box::ShowMessageBox(kLostConnectionText, kMessageTitle, box::kMbOk | box::kMbTopmost);
      }
    }
    return code;
  }
  if (code == wsa::kETimedOut) {
    if (server) return code;  // an ordinary error there, reported to nobody
    if (!IsRealDevice(d) || !g_notify_dropped_packets[static_cast<std::size_t>(d)]) {
      zimo::platform::DebugOutput(kNotifyPromptText);
      return code;
    }
    zimo::platform::DebugOutput(kTimeoutPromptText);
    // No is the default: a box nobody answers keeps the link, as a
    // dropped packet needs.
    if (box::ShowMessageBox(kTimeoutPromptText, kMessageTitle,
                            box::kMbYesNo | box::kMbDefButton2 | box::kMbTopmost) == box::kIdYes) {
      EthTearDown(d, false);
      return code;
    }
    if (box::ShowMessageBox(kNotifyPromptText, kMessageTitle, box::kMbYesNo | box::kMbTopmost) ==
        box::kIdNo) {
      g_notify_dropped_packets[static_cast<std::size_t>(d)] = false;
    }
    return code;
  }
  if (!server) zimo::platform::DebugOutput(EthSocketErrorText(code, server));
  return code;
}

}  // extern "C"
