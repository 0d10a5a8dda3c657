#include "link/eth_transport.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "corvan/command_api.h"
#include "corvan/eth_api.h"
#include "corvan/internal/shared_table.h"
#include "link/card_text.h"
#include "link/device_registry.h"
#include "link/library_app.h"
#include "link/transport_users.h"
#include "platform/codepage.h"
#include "platform/debug.h"
#include "platform/process.h"
#include "platform/unix_socket.h"
#include "platform/win_error.h"

namespace zimo::corvan {
namespace {

constexpr char kTcpModeValue[] = "TCPMode";
// Connecting a stream socket gives up after this long; the card on a
// loopback or local network answers at once or refuses.
constexpr platform::Timeout kConnectTimeout{10000};
// A TCP answer that stops mid-line gets this long for its rest.
constexpr platform::Timeout kTcpTextGrace{20};
// Late answers dropped before one request at most; more means a peer that
// floods the socket, which the request's own receive then meets.
constexpr int kLateAnswerLimit = 64;
// Settling an unsettled link: answers read at most while waiting for the
// flush's acknowledgement. The card answers its requests in turn, so once
// the acknowledgement is in, whatever it still queued came before it: the
// rest is drained without waiting for more.
constexpr int kSettleDrainLimit = 1024;
constexpr platform::Timeout kSettleQuiet{0};
// The card's one-byte acknowledgement of a request (the flush's among them).
constexpr char kRequestAck = 1;

std::atomic<std::uint32_t> g_timeout_cap_ms{0};

platform::Status SetTimeout(EthSocketHolder& holder, std::uint32_t ms) {
  const std::uint32_t cap = g_timeout_cap_ms.load(std::memory_order_relaxed);
  holder.timeout_set = true;
  return holder.socket.SetReceiveTimeout(cap != 0 && ms > cap ? cap : ms);
}

// This process's holders, one per device number that opened a socket.
struct HolderTable {
  std::mutex mutex;
  std::array<std::shared_ptr<EthSocketHolder>, kDeviceSlots> holders;
};

HolderTable& Holders() {
  static HolderTable* const table = new HolderTable();
  return *table;
}

SharedDeviceBlock* BlockOf(int device) {
  return IsRealDevice(device) ? App().Block(device) : nullptr;
}

std::uint32_t SocketNumber(const platform::Socket& socket) {
  return socket.is_open() ? static_cast<std::uint32_t>(socket.fd()) : kNoOwner;
}

// Whether a copy of the owner's descriptor still is the device's socket:
// the owner may have closed it, and the number may name something else now.
bool IsCardSocket(const platform::Socket& socket, std::uint32_t ip_address, bool tcp) {
  if (!socket.is_open()) return false;
  if ((socket.type() == platform::SocketType::kStream) != tcp) return false;
  auto peer = socket.PeerEndpoint();
  return peer.ok() && *peer == platform::Ipv4Endpoint{ip_address, kEthPort};
}

platform::Result<platform::Socket> Connect(std::uint32_t ip_address, bool tcp) {
  auto created = platform::Socket::Create(tcp ? platform::SocketType::kStream
                                              : platform::SocketType::kDatagram);
  if (!created.ok()) return created.status();
  platform::Socket socket = std::move(created.value());
  platform::Status connected =
      socket.Connect(platform::Ipv4Endpoint{ip_address, kEthPort}, kConnectTimeout);
  if (!connected.ok()) return connected;  // the socket closes with `socket`
  if (tcp) (void)socket.SetNoDelay(true);
  return socket;
}

void CreateSyncObjects(int device, DeviceUserHandle& device_user) {
  EthDeviceState& user = EthStateOf(device_user);
  char name[32];
  if (!user.EthMutex.valid()) {
    std::snprintf(name, sizeof name, "ETHMutext%d", device);
    auto mutex = platform::NamedMutex::Create(name);
    if (mutex.ok()) {
      user.EthMutex = std::move(mutex.value());
    } else {
      platform::DebugPrintf("%s: %s\n", name, mutex.status().ToString().c_str());
    }
  }
  if (!user.EthEvent.valid()) {
    std::snprintf(name, sizeof name, "ETHEvent%d", device);
    auto event = platform::NamedEvent::Create(name, platform::EventReset::kAuto, false);
    if (event.ok()) {
      user.EthEvent = std::move(event.value());
    } else {
      platform::DebugPrintf("%s: %s\n", name, event.status().ToString().c_str());
    }
  }
}

// Drops answers that arrived after their request had given up waiting.
void DropLateAnswers(EthSocketHolder& holder) {
  char scratch[kEthPacketSize];
  const int saved_error = platform::LastSocketError();
  for (int i = 0; i < kLateAnswerLimit; ++i) {
    if (!platform::WaitReadable(holder.socket.fd(), platform::Deadline(platform::Timeout(0)))
             .ok()) {
      break;
    }
    auto got = holder.socket.Receive(scratch, sizeof scratch);
    // A failure (a queued error, a closed stream) is left for the request's
    // own receive to meet.
    if (!got.ok() || *got == 0) break;
  }
  platform::SetLastSocketError(saved_error);
}

std::uint32_t Capped(std::uint32_t ms) {
  const std::uint32_t cap = g_timeout_cap_ms.load(std::memory_order_relaxed);
  return cap != 0 && ms > cap ? cap : ms;
}

bool Unsettled(const EthSocketHolder& holder) {
  const SharedDeviceBlock* block = BlockOf(holder.device);
  return block != nullptr && block->LinkUnsettled != 0;
}

void MarkUnsettled(const EthSocketHolder& holder) {
  if (SharedDeviceBlock* block = BlockOf(holder.device)) block->LinkUnsettled = 1;
}

// An earlier exchange ended without its answer (a time-out, or its holder
// ended holding the lock): the answer may still come, and the next request
// would take it for its own. As the serial transport does with Ctrl-X, ask
// the card to flush and read the socket up to the flush's acknowledgement
// (the card answers its requests in turn, so a late answer comes first),
// then what is queued behind it, dropping all of it. Without the
// acknowledgement the link stays unsettled: false, and the request that
// asked fails as a time-out would, sending nothing (the next one tries
// again). The caller holds the Ethernet lock.
bool SettleLink(EthSocketHolder& holder) {
  DropLateAnswers(holder);
  holder.receive.Empty();
  std::uint8_t packet[kEthHeaderSize];
  EncodeEthRequest(EthRequest{eth::kHostToCard, eth::kFlush, 10, 0, 0}, packet);
  const int saved_error = platform::LastSocketError();
  auto sent = holder.socket.Send(packet, sizeof packet);
  if (!sent.ok() || *sent != sizeof packet) return false;
  const platform::Deadline ack_deadline(platform::Timeout(Capped(eth::kResponseTimeoutMs)));
  char scratch[kEthPacketSize];
  bool acked = false;
  for (int i = 0; i < kSettleDrainLimit; ++i) {
    const platform::Deadline wait = acked ? platform::Deadline(kSettleQuiet) : ack_deadline;
    if (!platform::WaitReadable(holder.socket.fd(), wait).ok()) break;
    auto got = holder.socket.Receive(scratch, sizeof scratch);
    if (!got.ok() || *got == 0) break;
    // A datagram of its own, or the last byte of what the stream brought.
    if (scratch[*got - 1] == kRequestAck && (holder.tcp || *got == 1)) acked = true;
  }
  if (!acked) {
    platform::SetLastSocketError(platform::wsa::kETimedOut);
    return false;
  }
  platform::SetLastSocketError(saved_error);
  if (SharedDeviceBlock* block = BlockOf(holder.device)) block->LinkUnsettled = 0;
  return true;
}

std::int32_t ReceiveAnswer(EthSocketHolder& holder, char* answer, std::size_t size,
                           EthAnswerKind kind) {
  if (size == 0) return 0;  // nothing was asked for
  if (!holder.tcp) {
    auto got = holder.socket.Receive(answer, size);
    return got.ok() ? static_cast<std::int32_t>(*got) : -1;
  }
  std::size_t got = 0;
  for (;;) {
    auto n = holder.socket.Receive(answer + got, size - got);
    if (!n.ok()) return -1;
    if (*n == 0) {
      // The card's side of the stream has gone: the connection is lost.
      platform::SetLastSocketError(platform::wsa::kEConnReset);
      return -1;
    }
    got += *n;
    if (got >= size) break;
    if (kind == EthAnswerKind::kExact) continue;
    // A text answer is one send of the card's; take what has come with it
    // and give an answer that stops mid-line a moment for its rest.
    const char last = answer[got - 1];
    const bool ended = last == kAck || last == kCr || last == kLf;
    const platform::Timeout wait = ended ? platform::Timeout(0) : kTcpTextGrace;
    if (!platform::WaitReadable(holder.socket.fd(), platform::Deadline(wait)).ok()) break;
  }
  return static_cast<std::int32_t>(got);
}

}  // namespace

void EncodeEthRequest(const EthRequest& request, std::uint8_t out[kEthHeaderSize]) {
  out[0] = request.RequestType;
  out[1] = request.Request;
  out[2] = static_cast<std::uint8_t>(request.wValue >> 8);
  out[3] = static_cast<std::uint8_t>(request.wValue);
  out[4] = static_cast<std::uint8_t>(request.wIndex >> 8);
  out[5] = static_cast<std::uint8_t>(request.wIndex);
  out[6] = static_cast<std::uint8_t>(request.wLength >> 8);
  out[7] = static_cast<std::uint8_t>(request.wLength);
}

std::shared_ptr<EthSocketHolder> EthHolderOf(int device) {
  if (device < 0 || device >= kDeviceSlots) return nullptr;
  HolderTable& table = Holders();
  std::lock_guard<std::mutex> guard(table.mutex);
  if (table.holders[device] != nullptr) return table.holders[device];
  // A device number that shares its Location and Enumeration with the
  // device that opened them uses that device's socket.
  const DeviceUserHandle* user = App().User(device);
  if (user == nullptr || user->Transport == nullptr) return nullptr;
  const LocationHandle& handle = *user->Transport;
  if (handle.location != kLocationEthernet || handle.opener_device < 0 ||
      handle.opener_device >= kDeviceSlots) {
    return nullptr;
  }
  return table.holders[handle.opener_device];
}

bool EthSocketValid(const EthSocketHolder* holder) {
  return holder != nullptr && holder->socket.is_open();
}

bool EthSocketGone(EthSocketHolder* holder) {
  if (EthSocketValid(holder)) return false;
  if (holder != nullptr) holder->receive.last_error = kEthErrNotConnected;
  platform::SetLastSocketError(static_cast<int>(kEthErrNotConnected));
  return true;
}

EthSocketHolder* EthOpen(int device, std::uint32_t ip_address) {
  SharedDeviceBlock* block = BlockOf(device);
  DeviceUserHandle* user = App().User(device);
  if (block == nullptr || user == nullptr) return nullptr;
  HolderTable& table = Holders();
  {
    std::lock_guard<std::mutex> guard(table.mutex);
    if (table.holders[device] != nullptr) return table.holders[device].get();
  }

  auto holder = std::make_shared<EthSocketHolder>();
  holder->device = device;
  holder->receive.buffer.assign(kEthRecvBufferStep, 0);
  platform::DebugPrintf("Initial Socket = %d   dwUserCount = %d\n",
                        static_cast<int>(block->EthOwnerSocket),
                        static_cast<int>(block->TransportUserCount));

  std::uint32_t tcp_mode = 0;
  GetDeviceLocationDword(device, kTcpModeValue, &tcp_mode, 0);
  holder->tcp = tcp_mode != 0;

  const std::uint32_t owner_socket = block->EthOwnerSocket;
  const std::uint32_t owner_pid = block->EthOwnerProcessId;
  bool have_socket = false;
  bool owner_gone = true;
  if (owner_socket != kNoOwner && owner_socket != 0 && owner_pid != kNoOwner) {
    const pid_t pid = static_cast<pid_t>(owner_pid);
    auto copy = platform::DuplicateFdFromProcess(pid, static_cast<int>(owner_socket));
    if (copy.ok()) {
      platform::Socket socket{platform::UniqueFd(*copy)};
      if (IsCardSocket(socket, ip_address, holder->tcp)) {
        holder->socket = std::move(socket);
        have_socket = true;
      }
    }
    // The owner has gone, or no longer holds the socket under that number.
    owner_gone = !have_socket && (copy.ok() || !platform::IsProcessAlive(pid) ||
                                  copy.status().code() == platform::Code::kNotFound);
    if (!have_socket) {
      platform::DebugPrintf("Socket %u of process %u is not usable here: connecting anew\n",
                            owner_socket, owner_pid);
    }
  }
  if (!have_socket) {
    auto connected = Connect(ip_address, holder->tcp);
    if (!connected.ok()) {
      platform::DebugPrintf("Connecting to the card failed: %s\n",
                            connected.status().ToString().c_str());
      return nullptr;  // the socket and the holder are released with them
    }
    holder->socket = std::move(connected.value());
    holder->owner = true;
    // No wait of this process may go without limit, also before the first
    // request that sets a time-out of its own.
    (void)SetTimeout(*holder, eth::kResponseTimeoutMs);
    // Only a socket whose owner has gone is taken over; one that could
    // merely not be copied stays its owner's, for later openers to copy.
    if (owner_gone) {
      block->EthOwnerProcessId = static_cast<std::uint32_t>(platform::CurrentProcessId());
      block->EthOwnerSocket = SocketNumber(holder->socket);
    }
  }

  const std::uint32_t count = AddTransportUser(*block);
  platform::DebugPrintf("*sock = %d   dwUserCount = %d\n", holder->socket.fd(),
                        static_cast<int>(count));
  CreateSyncObjects(device, *user);
  EthSocketHolder* raw = holder.get();
  std::lock_guard<std::mutex> guard(table.mutex);
  table.holders[device] = std::move(holder);
  return raw;
}

int EthClose(int device) {
  std::shared_ptr<EthSocketHolder> holder;
  HolderTable& table = Holders();
  {
    std::lock_guard<std::mutex> guard(table.mutex);
    if (device >= 0 && device < kDeviceSlots) holder = table.holders[device];
  }
  SharedDeviceBlock* block = BlockOf(device);
  DeviceUserHandle* user = App().User(device);
  if (holder == nullptr || block == nullptr || user == nullptr) return 0;

  LockEth(device);
  const std::uint32_t count = RemoveTransportUser(*block);
  const bool was_owner =
      block->EthOwnerProcessId == static_cast<std::uint32_t>(platform::CurrentProcessId()) &&
      block->EthOwnerSocket == SocketNumber(holder->socket);
  if (count == 0 && EthSocketValid(holder.get()) && !holder->tcp) {
    // The card forgets the host of a datagram link only when told.
    if (!holder->timeout_set) (void)SetTimeout(*holder, eth::kShortTimeoutMs);
    char answer = 0;
    EthExchange(*holder, EthRequest{eth::kHostToCard, eth::kClose, 0, 0, 0}, {}, eth::kKept,
                &answer, 1, EthAnswerKind::kExact);
  }
  const std::uint32_t closed_socket = SocketNumber(holder->socket);
  // Every user closes its own socket; the copies of other processes stay open.
  holder->socket.Close();
  {
    std::lock_guard<std::mutex> guard(table.mutex);
    table.holders[device].reset();
  }
  if (count == 0 || was_owner) {
    // A socket number that no process holds any more must not be copied.
    block->EthOwnerProcessId = kNoOwner;
    block->EthOwnerSocket = kNoOwner;
  }
  holder->receive.buffer.clear();
  holder->receive.buffer.shrink_to_fit();
  holder->receive.Empty();
  platform::DebugPrintf("InitialSock = %d *sock = %d   dwUserCount = %d\n",
                        static_cast<int>(block->EthOwnerSocket), static_cast<int>(closed_socket),
                        static_cast<int>(count));
  ReleaseEth(device);
  if (EthDeviceState* state = EthStateIf(*user)) {
    state->EthMutex = platform::NamedMutex();
    state->EthEvent = platform::NamedEvent();
  }
  return 0;
}

void LockEth(int device) {
  std::shared_ptr<EthSocketHolder> holder = EthHolderOf(device);
  const int lock_device = holder != nullptr ? holder->device : device;
  DeviceUserHandle* user = App().User(lock_device);
  EthDeviceState* state = user != nullptr ? EthStateIf(*user) : nullptr;
  if (state == nullptr || !state->EthMutex.valid()) return;
  platform::Status s = state->EthMutex.Lock();
  // An abandoned lock is ours now: a request of a process that ended never
  // half-writes anything the next request reads.
  if (s.code() == platform::Code::kAbandoned) {
    // ... but its answer may still be on its way: the next request settles
    // the link first.
    if (SharedDeviceBlock* block = BlockOf(lock_device)) block->LinkUnsettled = 1;
  } else if (!s.ok()) {
    platform::DebugPrintf("ETHMutext%d: %s\n", lock_device, s.ToString().c_str());
  }
}

void ReleaseEth(int device) {
  std::shared_ptr<EthSocketHolder> holder = EthHolderOf(device);
  const int lock_device = holder != nullptr ? holder->device : device;
  DeviceUserHandle* user = App().User(lock_device);
  EthDeviceState* state = user != nullptr ? EthStateIf(*user) : nullptr;
  if (state == nullptr || !state->EthMutex.valid()) return;
  (void)state->EthMutex.Unlock();
}

EthExchangeResult EthExchange(EthSocketHolder& holder, const EthRequest& request,
                              std::string_view payload, std::uint32_t timeout_ms, void* answer,
                              std::size_t answer_size, EthAnswerKind kind) {
  EthExchangeResult result;
  if (!holder.socket.is_open() || payload.size() > kEthMaxPayload) return result;
  if (Unsettled(holder)) {
    if (!SettleLink(holder)) {
      result.received = -1;
      result.receive_failed = true;
      return result;
    }
  } else {
    DropLateAnswers(holder);
  }

  std::uint8_t packet[kEthPacketSize];
  EncodeEthRequest(request, packet);
  if (!payload.empty()) std::memcpy(packet + kEthHeaderSize, payload.data(), payload.size());
  const std::size_t length = kEthHeaderSize + payload.size();
  auto sent = holder.socket.Send(packet, length);
  if (!sent.ok() || *sent != length) {
    if (sent.ok()) platform::SetLastSocketError(platform::wsa::kENoBufs);
    result.send_failed = true;
    return result;
  }
  if (timeout_ms != eth::kKept) (void)SetTimeout(holder, timeout_ms);
  result.received = ReceiveAnswer(holder, static_cast<char*>(answer), answer_size, kind);
  result.receive_failed = result.received < 0;
  // No answer in time: it may come later, and must not be the next one's.
  if (result.receive_failed) MarkUnsettled(holder);
  return result;
}

void SetEthTimeoutCapForTesting(std::uint32_t milliseconds) {
  g_timeout_cap_ms.store(milliseconds, std::memory_order_relaxed);
}

void EthTearDown(int device, bool set_event) {
  std::shared_ptr<EthSocketHolder> holder = EthHolderOf(device);
  if (holder == nullptr) return;
  holder->socket.Close();
  holder->receive.Empty();
  if (SharedDeviceBlock* block = BlockOf(holder->device)) block->EthOwnerSocket = kNoOwner;
  if (set_event) {
    DeviceUserHandle* user = App().User(holder->device);
    EthDeviceState* state = user != nullptr ? EthStateIf(*user) : nullptr;
    if (state != nullptr && state->EthEvent.valid()) (void)state->EthEvent.Set();
  }
}

}  // namespace zimo::corvan

// ---------------------------------------------------------------------------
// The requests.

namespace zimo::corvan {
namespace {

enum ReportOn : unsigned {
  kReportNone = 0,
  kReportSend = 1,
  kReportReceive = 2,
  kReportBoth = kReportSend | kReportReceive,
};

struct Outcome {
  bool valid = false;         // the device had a usable socket
  std::int32_t received = 0;  // bytes received, -1 on failure
};

// One request under the device's lock. Failures of the kinds in `report` go
// through the socket-error report (which may tear the socket down).
Outcome Request(int device, const EthRequest& request, std::string_view payload,
                std::uint32_t timeout_ms, void* answer, std::size_t answer_size, EthAnswerKind kind,
                unsigned report) {
  std::shared_ptr<EthSocketHolder> holder = EthHolderOf(device);
  if (EthSocketGone(holder.get())) return {};
  EthLockGuard lock(device);
  // Another thread may have torn the connection down while this one waited.
  if (EthSocketGone(holder.get())) return {};
  const EthExchangeResult r =
      EthExchange(*holder, request, payload, timeout_ms, answer, answer_size, kind);
  if ((r.send_failed && (report & kReportSend) != 0) ||
      (r.receive_failed && (report & kReportReceive) != 0)) {
    EthReportSocketError(static_cast<std::uint32_t>(device));
  }
  return {true, r.received};
}

std::uint16_t Word(std::uint32_t value) { return static_cast<std::uint16_t>(value); }

void PutLittleEndian(std::uint32_t value, char* out) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(value >> (8 * i));
}

std::uint32_t GetLittleEndian(const unsigned char* in) {
  return std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16 |
         std::uint32_t{in[3]} << 24;
}

// Ones in `count` bits from `first`, cut to the dword.
std::uint32_t FieldMask(std::uint32_t first, std::uint32_t count) {
  const std::uint64_t ones = count >= 32 ? 0xFFFFFFFFull : (std::uint64_t{1} << count) - 1;
  return static_cast<std::uint32_t>(ones << first);
}

void EmptyReceiveBuffer(int device) {
  if (std::shared_ptr<EthSocketHolder> holder = EthHolderOf(device)) holder->receive.Empty();
}

bool UnreadText(int device) {
  std::shared_ptr<EthSocketHolder> holder = EthHolderOf(device);
  return holder != nullptr && holder->receive.HasUnread();
}

// A block request's payload must fit one packet and its length one word.
bool FitsPacket(const void* data, std::uint32_t length) {
  return (data != nullptr || length == 0) && length <= kEthMaxPayload;
}

}  // namespace
}  // namespace zimo::corvan

using zimo::corvan::EthAnswerKind;
using zimo::corvan::EthRequest;
using zimo::corvan::IndexFromDeviceNumber;
namespace eth = zimo::corvan::eth;

extern "C" {

std::uint32_t EthSendLine(std::uint32_t device, const char* text) {
  using namespace zimo::corvan;
  const int d = IndexFromDeviceNumber(device);
  std::shared_ptr<EthSocketHolder> holder = EthHolderOf(d);
  if (EthSocketGone(holder.get())) return kStatusFailure;
  const std::size_t length = text != nullptr ? std::strlen(text) : 0;
  if (text == nullptr || length > kEthMaxPayload) return kStatusFailure;
  char answer = 0;
  const Outcome o = Request(d, EthRequest{eth::kHostToCard, eth::kSendLine, 0, 0, Word(length)},
                            std::string_view(text, length), eth::kRequestTimeoutMs, &answer, 1,
                            EthAnswerKind::kExact, kReportNone);
  if (!o.valid || o.received < 1) return kStatusFailure;
  return static_cast<std::uint32_t>(length + kEthHeaderSize);
}

std::uint32_t EthSendLineW(std::uint32_t device, const char16_t* text) {
  zimo::platform::NarrowText narrow(text);
  return EthSendLine(device, narrow.c_str());
}

void EthSendCommand(std::uint32_t device, const char* text) {
  EthSendLine(device, text);
  EthFlush(device);
}

void EthSendCommandW(std::uint32_t device, const char16_t* text) {
  zimo::platform::NarrowText narrow(text);
  EthSendCommand(device, narrow.c_str());
}

std::int32_t EthFlush(std::uint32_t device) {
  using namespace zimo::corvan;
  const int d = IndexFromDeviceNumber(device);
  char answer = 0;
  const Outcome o = Request(d, EthRequest{eth::kHostToCard, eth::kFlush, 10, 0, 0}, {},
                            eth::kShortTimeoutMs, &answer, 1, EthAnswerKind::kExact, kReportNone);
  if (!o.valid) return -1;
  EmptyReceiveBuffer(d);
  return o.received >= 1 ? o.received : -1;
}

std::uint32_t EthSendChar(std::uint32_t device, char character) {
  using namespace zimo::corvan;
  const int d = IndexFromDeviceNumber(device);
  // The character goes out as a signed byte widened to 16 bits.
  const auto value =
      static_cast<std::uint16_t>(static_cast<std::int16_t>(static_cast<signed char>(character)));
  char answer = 0;
  const Outcome o = Request(d, EthRequest{eth::kHostToCard, eth::kSendChar, value, 0, 0}, {},
                            eth::kCharTimeoutMs, &answer, 1, EthAnswerKind::kExact, kReportReceive);
  if (!o.valid) return kStatusFailure;
  if (character == kCtrlX) EmptyReceiveBuffer(d);
  return o.received >= 1 ? 1 : kStatusFailure;
}

std::uint32_t EthSendCharW(std::uint32_t device, char16_t character) {
  return EthSendChar(device, static_cast<char>(character & 0xFF));
}

std::uint32_t EthReadReady(std::uint32_t device) {
  using namespace zimo::corvan;
  const int d = IndexFromDeviceNumber(device);
  if (EthSocketGone(EthHolderOf(d).get())) return 0;
  if (UnreadText(d)) return 1;
  unsigned char answer[2] = {};
  const Outcome o = Request(d, EthRequest{eth::kCardToHost, eth::kReadReady, 0, 0, 2}, {},
                            eth::kKept, answer, sizeof answer, EthAnswerKind::kExact, kReportBoth);
  return o.valid && o.received >= 1 ? answer[0] : 0;
}

std::int32_t EthIpAddress(std::uint32_t device, std::int32_t write, std::uint8_t* address) {
  using namespace zimo::corvan;
  if (address == nullptr) return -1;
  const std::uint8_t type = write != 0 ? eth::kHostToCard : eth::kCardToHost;
  unsigned char answer[4] = {};
  const Outcome o =
      Request(IndexFromDeviceNumber(device), EthRequest{type, eth::kIpAddress, 0, 0, 4},
              std::string_view(reinterpret_cast<const char*>(address), 4), eth::kShortTimeoutMs,
              answer, sizeof answer, EthAnswerKind::kExact, kReportNone);
  if (!o.valid || o.received < 0) return -1;
  std::memcpy(address, answer, static_cast<std::size_t>(o.received));
  return o.received;
}

std::int32_t EthOutp(std::uint32_t device, std::uint8_t offset, std::uint8_t value) {
  using namespace zimo::corvan;
  char answer = 0;
  const Outcome o = Request(IndexFromDeviceNumber(device),
                            EthRequest{eth::kHostToCard, eth::kWritePort, offset, value, 0}, {},
                            eth::kCharTimeoutMs, &answer, 1, EthAnswerKind::kExact, kReportBoth);
  return o.valid ? o.received : -1;
}

std::uint32_t EthWriteBuffer(std::uint32_t device, const void* block, std::uint32_t length) {
  using namespace zimo::corvan;
  // Nothing taken: the status of a block whose first line failed.
  constexpr std::uint32_t kNotTaken = 0x80000000;
  if (!FitsPacket(block, length)) return kNotTaken;
  unsigned char answer[4] = {};
  const Outcome o = Request(IndexFromDeviceNumber(device),
                            EthRequest{eth::kHostToCard, eth::kWriteBuffer, 0, 0, Word(length)},
                            std::string_view(static_cast<const char*>(block), length), eth::kKept,
                            answer, sizeof answer, EthAnswerKind::kExact, kReportSend);
  // Without a socket nothing was taken either: 0 would tell the download
  // that every line of the block was accepted.
  if (!o.valid) return kNotTaken;
  return o.received == 4 ? GetLittleEndian(answer) : kNotTaken;
}

std::uint32_t EthWriteFirmwareBlock(std::uint32_t device, std::uint16_t block_value,
                                    const void* data, std::uint32_t length) {
  using namespace zimo::corvan;
  if (!FitsPacket(data, length)) return 0;
  unsigned char answer = 0;
  const Outcome o =
      Request(IndexFromDeviceNumber(device),
              EthRequest{eth::kHostToCard, eth::kFirmwareBlock, block_value, 0, Word(length)},
              std::string_view(static_cast<const char*>(data), length), eth::kKept, &answer, 1,
              EthAnswerKind::kExact, kReportSend);
  return o.valid && o.received == 1 ? answer : 0;
}

std::int32_t EthDPRGetMem(std::uint32_t device, void* destination, std::uint32_t offset,
                          std::uint32_t count) {
  using namespace zimo::corvan;
  if (destination == nullptr || offset > 0xFFFF || count > 0xFFFF) return -1;
  if (count == 0) return 0;
  const Outcome o =
      Request(IndexFromDeviceNumber(device),
              EthRequest{eth::kCardToHost, eth::kReadDpr, Word(offset), 0, Word(count)}, {},
              eth::kRequestTimeoutMs, destination, count, EthAnswerKind::kExact, kReportBoth);
  return o.valid ? o.received : -1;
}

std::int32_t EthDPRSetMem(std::uint32_t device, const void* source, std::uint32_t offset,
                          std::uint32_t count) {
  using namespace zimo::corvan;
  if (!FitsPacket(source, count) || offset > 0xFFFF) return -1;
  char answer = 0;
  const Outcome o =
      Request(IndexFromDeviceNumber(device),
              EthRequest{eth::kCardToHost, eth::kWriteDpr, Word(offset), 0, Word(count)},
              std::string_view(static_cast<const char*>(source), count), eth::kRequestTimeoutMs,
              &answer, 1, EthAnswerKind::kExact, kReportBoth);
  return o.valid ? o.received : -1;
}

std::int32_t EthDPRSetMemBit(std::uint32_t device, std::uint32_t offset, std::uint32_t bit,
                             std::int32_t set) {
  using namespace zimo::corvan;
  if (bit > 31 || offset > 0xFFFF) return -1;
  const std::uint32_t mask = std::uint32_t{1} << bit;
  char payload[4];
  PutLittleEndian(set != 0 ? mask : ~mask, payload);
  char answer = 0;
  const Outcome o = Request(IndexFromDeviceNumber(device),
                            EthRequest{eth::kCardToHost, eth::kSetDprBit, Word(offset),
                                       static_cast<std::uint16_t>(set != 0 ? 1 : 0), 4},
                            std::string_view(payload, 4), eth::kRequestTimeoutMs, &answer, 1,
                            EthAnswerKind::kExact, kReportBoth);
  return o.valid ? o.received : -1;
}

std::int32_t EthDPRSetMemBits(std::uint32_t device, std::uint32_t offset, std::uint32_t first,
                              std::uint32_t count, std::uint32_t value) {
  using namespace zimo::corvan;
  if (first > 31 || offset > 0xFFFF) return -1;
  const std::uint32_t mask = FieldMask(first, count);
  char payload[8];
  PutLittleEndian(~mask, payload);
  PutLittleEndian(static_cast<std::uint32_t>(std::uint64_t{value} << first) & mask, payload + 4);
  char answer = 0;
  const Outcome o = Request(IndexFromDeviceNumber(device),
                            EthRequest{eth::kCardToHost, eth::kSetDprBits, Word(offset), 0, 8},
                            std::string_view(payload, 8), eth::kRequestTimeoutMs, &answer, 1,
                            EthAnswerKind::kExact, kReportBoth);
  return o.valid ? o.received : -1;
}

std::int32_t EthDPRGetMemBit(std::uint32_t device, std::uint32_t offset, std::uint32_t bit,
                             std::uint32_t* value) {
  if (bit > 31) return -1;
  unsigned char dword[4] = {};
  const std::int32_t got = EthDPRGetMem(device, dword, offset, 4);
  if (got == 4 && value != nullptr) {
    *value = (zimo::corvan::GetLittleEndian(dword) >> bit) & 1u;
  }
  return got;
}

std::int32_t EthDPRGetMemBits(std::uint32_t device, std::uint32_t offset, std::uint32_t first,
                              std::uint32_t count, std::uint32_t* value) {
  if (first > 31) return -1;
  unsigned char dword[4] = {};
  const std::int32_t got = EthDPRGetMem(device, dword, offset, 4);
  if (got == 4 && value != nullptr) {
    *value =
        (zimo::corvan::GetLittleEndian(dword) & zimo::corvan::FieldMask(first, count)) >> first;
  }
  return got;
}

std::int32_t EthRotBufInit(std::uint32_t device, std::uint16_t buffer) {
  using namespace zimo::corvan;
  char answer = 0;
  const Outcome o = Request(IndexFromDeviceNumber(device),
                            EthRequest{eth::kHostToCard, eth::kRotBufInit, buffer, 0, 0}, {},
                            eth::kKept, &answer, 1, EthAnswerKind::kExact, kReportBoth);
  return o.valid ? o.received : -1;
}

std::int32_t EthRotBufPut(std::uint32_t device, std::uint16_t buffer, const void* data,
                          std::uint32_t length, std::uint16_t* word1, std::uint16_t* word2) {
  using namespace zimo::corvan;
  if (!FitsPacket(data, length)) return -1;
  unsigned char answer[4] = {};
  const Outcome o =
      Request(IndexFromDeviceNumber(device),
              EthRequest{eth::kHostToCard, eth::kRotBufPut, buffer, 0, Word(length)},
              std::string_view(static_cast<const char*>(data), length), eth::kRequestTimeoutMs,
              answer, sizeof answer, EthAnswerKind::kExact, kReportBoth);
  if (!o.valid) return -1;
  if (o.received == 4) {
    if (word1 != nullptr) *word1 = static_cast<std::uint16_t>(answer[0] | answer[1] << 8);
    if (word2 != nullptr) *word2 = static_cast<std::uint16_t>(answer[2] | answer[3] << 8);
  }
  return o.received;
}

}  // extern "C"
