// The Ethernet transport: cards of Location 3 reached over IP on port 1025,
// by UDP (the default) or TCP (the ETH key's "TCPMode" non-zero). Every
// exchange is one request packet from the host, an 8-byte header and a
// payload, followed by one answer from the card that carries no header.
//
// One socket per device is shared by every process that uses the device:
// the first opener connects and keeps its process id and descriptor in the
// device's shared block; later openers take a copy of that descriptor. The
// named mutex "ETHMutext%d" makes each request/answer pair atomic across
// those processes, including DPR, rotary and download requests, which do not
// take the command lock.
//
// The exports of this family are declared in corvan/eth_api.h; the readers
// of text responses are in eth_response.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "link/transport.h"
#include "platform/named_event.h"
#include "platform/named_mutex.h"
#include "platform/socket.h"

namespace zimo::corvan {

inline constexpr std::uint16_t kEthPort = 1025;
// A packet is built in 1500 bytes: the header and at most 1492 payload bytes.
inline constexpr std::size_t kEthPacketSize = 1500;
inline constexpr std::size_t kEthHeaderSize = 8;
inline constexpr std::size_t kEthMaxPayload = kEthPacketSize - kEthHeaderSize;
// Text answers come in pieces of at most this size; DPR and rotary callers
// keep their blocks to it too.
inline constexpr std::size_t kEthChunk = 1400;
// The receive buffer starts at, and grows by, this size.
inline constexpr std::size_t kEthRecvBufferStep = 4096;

namespace eth {
inline constexpr std::uint8_t kHostToCard = 0x40;
inline constexpr std::uint8_t kCardToHost = 0xC0;

inline constexpr std::uint8_t kSendLine = 0xB0;
inline constexpr std::uint8_t kFlush = 0xB3;
inline constexpr std::uint8_t kReadDpr = 0xB4;
inline constexpr std::uint8_t kWriteDpr = 0xB5;
inline constexpr std::uint8_t kSendChar = 0xB6;
inline constexpr std::uint8_t kSetDprBit = 0xBA;
inline constexpr std::uint8_t kSetDprBits = 0xBB;
inline constexpr std::uint8_t kWritePort = 0xBE;
inline constexpr std::uint8_t kGetResponse = 0xBF;
inline constexpr std::uint8_t kReadReady = 0xC2;
inline constexpr std::uint8_t kControlResponse = 0xC4;
inline constexpr std::uint8_t kReadPending = 0xC5;
inline constexpr std::uint8_t kWriteBuffer = 0xC6;
inline constexpr std::uint8_t kRotBufPut = 0xC8;
inline constexpr std::uint8_t kRotBufInit = 0xCA;
inline constexpr std::uint8_t kFirmwareBlock = 0xCB;
inline constexpr std::uint8_t kClose = 0xD0;
inline constexpr std::uint8_t kIpAddress = 0xE0;

// Receive time-outs in milliseconds; kKept sets none, so the last value set
// on the (shared) socket applies.
inline constexpr std::uint32_t kKept = 0;
inline constexpr std::uint32_t kShortTimeoutMs = 250;
inline constexpr std::uint32_t kRequestTimeoutMs = 500;
inline constexpr std::uint32_t kCharTimeoutMs = 550;
inline constexpr std::uint32_t kResponseTimeoutMs = 10000;
}  // namespace eth

// The line that brings the card's reply format back after a reply that
// ended without ACK.
inline constexpr char kEthRestoreLine[] = "I63=1I3=2";

// The request header. The three words are in host order here and go out
// big-endian.
struct EthRequest {
  std::uint8_t RequestType = 0;
  std::uint8_t Request = 0;
  std::uint16_t wValue = 0;
  std::uint16_t wIndex = 0;
  std::uint16_t wLength = 0;
};

// The 8 bytes of the header as they go on the wire.
void EncodeEthRequest(const EthRequest& request, std::uint8_t out[kEthHeaderSize]);

// The receive buffer of one device in one process and the reader's place in
// it. Text from `scan` up to `end` has been fetched and not handed out yet;
// the buffer is empty when `scan` equals `end` (both are then 0).
struct EthReceiveState {
  std::vector<char> buffer;
  std::size_t scan = 0;          // next unread character
  std::size_t line_start = 0;    // start of the line handed out next
  std::size_t end = 0;           // end of the fetched text
  std::uint32_t last_error = 0;  // error number the card sent after its latest BEL

  bool HasUnread() const { return scan < end; }
  void Empty() { scan = line_start = end = 0; }
};

// This process's hold on a device's socket (the owner's socket or a copy of
// it). A device number that shares its Location and Enumeration with the
// device that opened the socket reaches the same holder.
struct EthSocketHolder {
  int device = -1;          // the device the socket was opened for: its lock, its shared block
  platform::Socket socket;  // closed once the connection has been torn down
  bool tcp = false;
  bool owner = false;        // this process connected the socket
  bool timeout_set = false;  // this process has set a receive time-out on it
  EthReceiveState receive;
};

// The Ethernet transport's own state of a device in this process: its
// handles of the request lock and of the event set when the link drops.
struct EthDeviceState : TransportDeviceState {
  platform::NamedMutex EthMutex;  // "ETHMutext%d"
  platform::NamedEvent EthEvent;  // "ETHEvent%d"
};
inline EthDeviceState& EthStateOf(DeviceUserHandle& user) {
  return TransportStateOf<EthDeviceState>(user);
}
inline EthDeviceState* EthStateIf(const DeviceUserHandle& user) {
  return TransportStateIf<EthDeviceState>(user);
}

// Connects the device (or takes a copy of the socket another process
// connected), counts this process in TransportUserCount and creates this
// process's handles of "ETHMutext%d" and "ETHEvent%d". `ip_address` has the
// first number of the dotted form in its top byte. Null on failure, with
// nothing held and the owner fields unchanged. A device already open in
// this process gets its holder back and is not counted again.
EthSocketHolder* EthOpen(int device, std::uint32_t ip_address);
// Gives up this process's place: the last user of the device (in all
// processes) sends the close request on a UDP socket and clears the owner
// fields; every user closes its own socket and its lock and event handles.
// 0; a device not open in this process is left alone.
int EthClose(int device);

// The holder that serves `device` in this process, or null. Kept alive by
// the returned pointer even if another thread closes the device meanwhile.
std::shared_ptr<EthSocketHolder> EthHolderOf(int device);
// True when `holder` is there and its socket has not been torn down.
bool EthSocketValid(const EthSocketHolder* holder);

// The error an operation on a device whose socket has gone leaves behind
// (in EthLastError and as the socket error): "not connected".
inline constexpr std::uint32_t kEthErrNotConnected = 10057;

// True when `holder` has no usable socket. A holder whose socket was torn
// down gets kEthErrNotConnected as its last error, so that the failure the
// caller returns says why.
bool EthSocketGone(EthSocketHolder* holder);

// The device's Ethernet request lock, waiting without limit. Recursive for
// the holding thread. Nothing happens when the device has no lock here.
void LockEth(int device);
void ReleaseEth(int device);

class EthLockGuard {
 public:
  explicit EthLockGuard(int device) : device_(device) { LockEth(device_); }
  ~EthLockGuard() { ReleaseEth(device_); }
  EthLockGuard(const EthLockGuard&) = delete;
  EthLockGuard& operator=(const EthLockGuard&) = delete;

 private:
  int device_;
};

// How an answer is read. On a datagram socket an answer is one datagram
// either way; a TCP stream is read on until the answer is complete:
enum class EthAnswerKind {
  kExact,  // exactly the size asked for
  kText,   // whatever the card sent, up to the size asked for
};

struct EthExchangeResult {
  // Bytes received, or -1 when the request was refused or failed.
  std::int32_t received = -1;
  bool send_failed = false;
  bool receive_failed = false;
};

// One request and its answer on `holder`'s socket; the caller holds the
// device's Ethernet lock. Sends the header and the payload in one send, sets
// the receive time-out (unless eth::kKept), and receives the answer into
// `answer` (at most `answer_size` bytes). Answers to earlier requests that
// came too late are dropped before the request goes out, so they are never
// taken for this request's answer. A payload that does not fit a packet is
// refused without sending anything. A failed receive leaves the socket
// error (platform::LastSocketError) for the socket-error report; a TCP peer
// that has closed counts as a reset connection (10054).
EthExchangeResult EthExchange(EthSocketHolder& holder, const EthRequest& request,
                              std::string_view payload, std::uint32_t timeout_ms, void* answer,
                              std::size_t answer_size, EthAnswerKind kind);

// Caps every receive time-out this process sets (0, the default: the
// time-outs as given), so that tests of a card that does not answer wait a
// short while.
void SetEthTimeoutCapForTesting(std::uint32_t milliseconds);

// The connection teardown of the socket-error report: closes this
// process's socket and clears EthOwnerSocket; with `set_event` sets
// "ETHEvent%d". Later requests of this process return at once.
void EthTearDown(int device, bool set_event);

}  // namespace zimo::corvan
