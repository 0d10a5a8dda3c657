#include "cardsim/attach_usb.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "cardsim/memory.h"

namespace zimo::cardsim {
namespace {

namespace rq = usb_request;

constexpr uint16_t kVendorId = 0x5A4D;
constexpr uint8_t kIdentityHeader = 0x5A;
constexpr uint16_t kRelease = 0x0100;
// Product ids of the table's rows: the older firmware's models, then the newer ones.
constexpr uint16_t kProducts[kUsbIdentityRows] = {0x0101, 0x0102, 0x0103, 0x0201, 0x0202,
                                                  0x0203, 0x0204, 0x0205, 0x0301, 0x0302,
                                                  0x0303, 0x0304, 0x0305};

constexpr uint16_t kSmallStatusWord = 0x06D0;
constexpr uint16_t kLargeStatusWord = 0x0F40;
constexpr size_t kLogLimit = 10000;
constexpr size_t kHostRotaryLimit = 1 << 20;
constexpr size_t kDefaultOversize = 16;

std::string Le16(uint16_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

std::string Le32(uint32_t v) {
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

uint32_t FromLe32(std::string_view b) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b[i]);
  return v;
}

UsbAnswer Ack(std::string data = {}) { return UsbAnswer{UsbHandshake::kAck, std::move(data), {}}; }
UsbAnswer Stall() { return UsbAnswer{UsbHandshake::kStall, {}, {}}; }
UsbAnswer NoResponse() { return UsbAnswer{UsbHandshake::kNoResponse, {}, {}}; }

bool IsIn(const UsbSetup& setup) { return (setup.request_type & rq::kIn) != 0; }

}  // namespace

std::array<uint8_t, rq::kIdentificationBytes> UsbIdentity::Bytes() const {
  return {header,
          static_cast<uint8_t>(vendor_id & 0xFF),
          static_cast<uint8_t>(vendor_id >> 8),
          static_cast<uint8_t>(product_id & 0xFF),
          static_cast<uint8_t>(product_id >> 8),
          static_cast<uint8_t>(release & 0xFF),
          static_cast<uint8_t>(release >> 8)};
}

UsbIdentity UsbIdentityRow(int row) {
  if (row < 0 || row >= kUsbIdentityRows) row = 4;
  return UsbIdentity{kIdentityHeader, kVendorId, kProducts[row], kRelease};
}

bool UsbRowIsOlderFirmware(int row) { return row >= 0 && row <= 2; }

bool UsbRowIsSmallLayout(int row) {
  return row == 0 || row == 3 || row == 5 || row == 8 || row == 11;
}

UsbAttachment::UsbAttachment(Card& card, UsbOptions options)
    : card_(card),
      rotary_(card, 0),
      row_(options.identity_row >= 0 && options.identity_row < kUsbIdentityRows
               ? options.identity_row
               : (card.model().spran ? 4 : 3)),
      controller_memory_(rq::kControllerMemory, 0) {}

bool UsbAttachment::older_firmware() const { return UsbRowIsOlderFirmware(row_); }

uint16_t UsbAttachment::status_word_offset() const {
  return UsbRowIsSmallLayout(row_) ? kSmallStatusWord : kLargeStatusWord;
}

// ---- Descriptors ---------------------------------------------------------------------

std::string UsbAttachment::DeviceDescriptor() const {
  const UsbIdentity id = UsbIdentityRow(row_);
  std::string d;
  d += static_cast<char>(18);
  d += static_cast<char>(1);
  d += Le16(0x0200);  // USB 2.0
  d += '\xFF';        // vendor-specific class
  d += '\0';
  d += '\0';
  d += static_cast<char>(64);  // default pipe's packets
  d += Le16(id.vendor_id);
  d += Le16(id.product_id);
  d += Le16(id.release);
  d += '\x01';  // manufacturer, product, serial strings
  d += '\x02';
  d += '\x03';
  d += '\x01';  // one configuration
  return d;
}

std::string UsbAttachment::ConfigurationDescriptor() const {
  struct Endpoint {
    uint8_t address, attributes;
    uint16_t max_packet;
    uint8_t interval;
  };
  static constexpr Endpoint kEndpoints[] = {
      {kBulkIn, 2, kBulkMaxPacket, 0},
      {kBulkOut, 2, kBulkMaxPacket, 0},
      {kRotaryOut, 2, kBulkMaxPacket, 0},
      {kIsoIn, 1, kIsoMaxPacket, 1},
  };
  std::string interface;
  interface += static_cast<char>(9);
  interface += static_cast<char>(4);
  interface += '\0';  // interface 0
  interface += '\0';  // alternate setting 0
  interface += static_cast<char>(std::size(kEndpoints));
  interface += '\xFF';
  interface += '\0';
  interface += '\0';
  interface += '\0';
  for (const Endpoint& e : kEndpoints) {
    interface += static_cast<char>(7);
    interface += static_cast<char>(5);
    interface += static_cast<char>(e.address);
    interface += static_cast<char>(e.attributes);
    interface += Le16(e.max_packet);
    interface += static_cast<char>(e.interval);
  }
  std::string d;
  d += static_cast<char>(9);
  d += static_cast<char>(2);
  d += Le16(static_cast<uint16_t>(9 + interface.size()));
  d += '\x01';  // one interface
  d += '\x01';  // configuration value 1
  d += '\0';
  d += '\xC0';                 // self-powered
  d += static_cast<char>(50);  // 100 mA
  return d + interface;
}

std::string UsbAttachment::StringDescriptor(uint8_t index) const {
  if (index == 0) return std::string("\x04\x03\x09\x04", 4);  // US English
  std::string text;
  switch (index) {
    case 1:
      text = "Zimo";
      break;
    case 2:
      text = "Zimo USB motion controller";
      break;
    case 3: {
      char serial[16];
      std::snprintf(serial, sizeof(serial), "ZU%04X", UsbIdentityRow(row_).product_id);
      text = serial;
      break;
    }
    default:
      return {};
  }
  std::string d;
  d += static_cast<char>(2 + 2 * text.size());
  d += static_cast<char>(3);
  for (char c : text) {
    d += c;
    d += '\0';
  }
  return d;
}

// ---- Transfers -----------------------------------------------------------------------

UsbAnswer UsbAttachment::Control(const UsbSetup& setup, std::string_view out) {
  std::lock_guard lock(mu_);
  if (detached_) return NoResponse();
  UsbAnswer answer;
  if ((setup.request_type & rq::kTypeMask) == rq::kStandard) {
    answer = Standard(setup, out);
  } else if ((setup.request_type & rq::kTypeMask) == rq::kVendor) {
    log_.push_back(Logged{setup, IsIn(setup) ? 0 : out.size()});
    if (log_.size() > kLogLimit) log_.pop_front();
    // A scripted fault for this request, if any.
    std::optional<Fault> fault;
    if (auto it = faults_.find(setup.request); it != faults_.end() && !it->second.empty()) {
      Fault& f = it->second.front();
      fault = f;
      if (f.count > 0 && --f.count == 0) it->second.pop_front();
    }
    if (fault && fault->fault == UsbFault::kStall) return Stall();
    if (fault && fault->fault == UsbFault::kNoResponse) return NoResponse();
    answer = Vendor(setup, out);
    if (fault && IsIn(setup) && answer.handshake == UsbHandshake::kAck) {
      if (fault->fault == UsbFault::kShort && answer.data.size() > fault->bytes) {
        // Text the card could not send yet goes out with the next read.
        if (setup.request == rq::kReadLine || setup.request == rq::kReadBlock) {
          text_.pending().insert(0, answer.data.substr(fault->bytes));
        }
        answer.data.resize(fault->bytes);
      } else if (fault->fault == UsbFault::kOversized) {
        const size_t extra = fault->bytes != 0 ? fault->bytes : kDefaultOversize;
        answer.data.append(
            setup.length + extra - std::min<size_t>(answer.data.size(), setup.length), '\x55');
      }
    }
    UpdateStatusWord();
  } else {
    answer = Stall();  // no class requests
  }
  if (answer.handshake == UsbHandshake::kAck && !IsIn(setup)) answer.data.clear();
  return answer;
}

UsbAnswer UsbAttachment::Standard(const UsbSetup& setup, std::string_view out) {
  (void)out;
  const uint8_t recipient = setup.request_type & rq::kRecipientMask;
  switch (setup.request) {
    case rq::kGetDescriptor: {
      if (!IsIn(setup)) return Stall();
      std::string d;
      switch (setup.value >> 8) {
        case 1:
          d = DeviceDescriptor();
          break;
        case 2:
          if ((setup.value & 0xFF) != 0) return Stall();
          d = ConfigurationDescriptor();
          break;
        case 3:
          d = StringDescriptor(static_cast<uint8_t>(setup.value & 0xFF));
          if (d.empty()) return Stall();
          break;
        default:
          return Stall();
      }
      if (d.size() > setup.length) d.resize(setup.length);
      return Ack(std::move(d));
    }
    case rq::kGetConfiguration:
      return Ack(std::string(1, static_cast<char>(configuration_)));
    case rq::kSetConfiguration:
      if (setup.value > 1) return Stall();
      configuration_ = setup.value;
      return Ack();
    case rq::kSetInterface:
      // One interface with one setting.
      if (configuration_ == 0 || setup.index != 0 || setup.value != 0) return Stall();
      return Ack();
    case rq::kSetFeature:
    case rq::kClearFeature:
      // Remote wake-up on the device; the halt of an endpoint (nothing halts here).
      if (recipient == 0 && setup.value == 1) return Ack();
      if (recipient == 2 && setup.value == 0 &&
          (setup.index == kBulkIn || setup.index == kBulkOut || setup.index == kRotaryOut ||
           setup.index == kIsoIn)) {
        return Ack();
      }
      return Stall();
    default:
      return Stall();
  }
}

UsbAnswer UsbAttachment::Vendor(const UsbSetup& setup, std::string_view out) {
  Memory& memory = card_.memory();
  const bool in = IsIn(setup);
  // A muted card takes what comes and answers nothing.
  if (in && card_.script().muted()) return NoResponse();
  const size_t offset = setup.value;
  switch (setup.request) {
    case rq::kSendLine:
    case rq::kSendBlock:
      TakeText(out);
      return Ack();
    case rq::kReadLine: {
      const std::chrono::microseconds delay = text_.Delay();
      UsbAnswer answer = Ack(NextLine(setup.length));
      answer.delay = delay;
      return answer;
    }
    case rq::kReadBlock: {
      const std::chrono::microseconds delay = text_.Delay();
      UsbAnswer answer = Ack(NextBlock(setup.length));
      answer.delay = delay;
      return answer;
    }
    case rq::kFlush:
      text_.Flush();
      return Ack();
    case rq::kReadDpr: {
      if (offset + setup.length > Memory::kDprSize) return Stall();
      std::string bytes(setup.length, '\0');
      memory.ReadDpr(offset, bytes.data(), bytes.size());
      return Ack(std::move(bytes));
    }
    case rq::kWriteDpr:
      if (out.empty() || offset + out.size() > Memory::kDprSize) return Stall();
      memory.WriteDpr(offset, out.data(), out.size());
      return Ack();
    case rq::kSendChar:
      text_.TakeCharacter(static_cast<char>(setup.value & 0xFF));
      return Ack();
    case rq::kGather:
      gathering_ = setup.index != 0;
      gather_value_ = setup.value;
      return Ack();
    case rq::kReset:
      // The card restarts: pending output goes, the saved settings come back.
      ++resets_;
      text_.Flush();
      card_.Execute("$$$");
      return Ack();
    case rq::kIdentify: {
      const auto bytes = UsbIdentityRow(row_).Bytes();
      std::string id(bytes.begin(), bytes.end());
      if (id.size() > setup.length) id.resize(setup.length);
      return Ack(std::move(id));
    }
    case rq::kSetDprBit:
    case rq::kSetDprBits: {
      const size_t need = setup.request == rq::kSetDprBit ? 4 : 8;
      if (out.size() != need || offset + 4 > Memory::kDprSize) return Stall();
      const uint32_t old = memory.DprDword(offset);
      uint32_t now;
      if (setup.request == rq::kSetDprBit) {
        const uint32_t mask = FromLe32(out);
        now = setup.index != 0 ? (old | mask) : (old & mask);
      } else {
        now = (old & FromLe32(out)) | FromLe32(out.substr(4));
      }
      memory.SetDprDword(offset, now);
      return Ack();
    }
    case rq::kPortRegister: {
      const unsigned reg = setup.value & 0xFF;
      if (reg >= sizeof(registers_)) return Stall();
      if (in) return Ack(std::string(1, static_cast<char>(registers_[reg])));
      registers_[reg] = static_cast<uint8_t>(setup.index & 0xFF);
      // Register 7 is the port's data register: the byte goes to the interpreter.
      if (reg == 7) text_.TakeCharacter(static_cast<char>(registers_[reg]));
      return Ack();
    }
    case rq::kReadyWord: {
      const bool ready = text_.OutputReady();
      return Ack(std::string{static_cast<char>(ready ? 1 : 0), '\0'});
    }
    case rq::kControlResponse: {
      const char c = static_cast<char>(setup.value & 0xFF);
      if (c == ctrl::kCtrlX) {
        text_.Flush();
      }
      const Reply reply = card_.Control(c);
      std::string bytes = card_.Format(reply);
      if (bytes.empty()) bytes.assign(1, ctrl::kAck);  // something must come back
      if (bytes.size() > setup.length) bytes.resize(setup.length);
      UsbAnswer answer = Ack(std::move(bytes));
      answer.delay = reply.delay;
      return answer;
    }
    case rq::kDownloadBlock:
      download_status_ = card_.ExecuteBlock(out);
      return Ack();
    case rq::kDownloadStatus:
      return Ack(Le32(download_status_).substr(0, setup.length));
    case rq::kRotaryPut:
      rotary_status_ = card_.RotaryPutStaged(setup.value, out);
      return Ack();
    case rq::kRotaryStatus:
      return Ack(Le32(rotary_status_).substr(0, setup.length));
    case rq::kRotaryInit:
      rotary_.InitRotary(setup.value);
      return Ack();
    case rq::kFirmwareBlock:
      if (!card_.InBootstrap()) return Stall();
      card_.LoadFirmwareBlock(out, setup.value == 1);
      return Ack();
    case rq::kReadBack: {
      // The identification, a reserved byte, then the firmware version text.
      const auto id = UsbIdentityRow(row_).Bytes();
      std::string bytes(id.begin(), id.end());
      bytes += '\0';
      bytes += card_.model().version.substr(0, rq::kReadBackBytes - bytes.size());
      bytes.resize(rq::kReadBackBytes, '\0');
      if (bytes.size() > setup.length) bytes.resize(setup.length);
      return Ack(std::move(bytes));
    }
    case rq::kHostRotaryReady:
      return Ack(
          std::string(1, static_cast<char>(host_rotary_ready_ && card_.HostRotaryReady() ? 1 : 0))
              .substr(0, setup.length));
    case rq::kHostRotaryReset:
      host_rotary_.clear();
      card_.HostRotaryReset();
      return Ack();
    case rq::kHostRotaryE7:
    case rq::kHostRotaryE9:
      return Ack();
    case rq::kLoadController:
      if (offset + out.size() > controller_memory_.size()) return Stall();
      std::memcpy(controller_memory_.data() + offset, out.data(), out.size());
      return Ack();
    default:
      return Stall();
  }
}

UsbAnswer UsbAttachment::Transfer(uint8_t endpoint, std::string_view out, size_t in_length) {
  std::lock_guard lock(mu_);
  if (detached_) return NoResponse();
  if (configuration_ == 0) return Stall();
  switch (endpoint) {
    case kBulkOut:
      bulk_output_ += card_.Feed(out);
      return Ack();
    case kBulkIn: {
      bulk_output_ += card_.TakeStreamOutput();
      std::string data = bulk_output_.substr(0, in_length);
      bulk_output_.erase(0, data.size());
      return Ack(std::move(data));
    }
    case kRotaryOut:
      if (host_rotary_.size() + out.size() <= kHostRotaryLimit) host_rotary_.append(out);
      card_.HostRotaryData(out);  // the records run in system n + 1
      return Ack();
    default:
      return Stall();
  }
}

UsbAnswer UsbAttachment::IsoPacket(uint8_t endpoint, uint32_t frame, std::string_view out,
                                   size_t in_length) {
  (void)out;
  std::lock_guard lock(mu_);
  if (detached_) return NoResponse();
  if (configuration_ == 0 || endpoint != kIsoIn) return Stall();
  const size_t n = std::min<size_t>(in_length, kIsoMaxPacket);
  std::string data = Le32(frame);
  for (size_t i = data.size(); i < n; ++i) data += static_cast<char>((frame + i) & 0xFF);
  data.resize(n);
  return Ack(std::move(data));
}

void UsbAttachment::PortReset() {
  std::lock_guard lock(mu_);
  configuration_ = 0;
}

// ---- Text in and out ---------------------------------------------------------------------

void UsbAttachment::TakeText(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  // A one-byte text below blank is a single character (older firmware sends
  // characters this way).
  if (text.size() == 1 && static_cast<unsigned char>(text[0]) < 0x20) {
    text_.TakeCharacter(text[0]);
    return;
  }
  text_.TakeText(text);
}

std::string UsbAttachment::NextLine(size_t max) {
  if (max == 0) return {};
  text_.StartUnsolicited();
  if (text_.pending().empty()) return std::string(1, '\0');  // nothing waits
  size_t n = 1;
  if (text_.pending()[0] != ctrl::kAck) {
    const size_t cr = text_.pending().find(ctrl::kCr);
    n = cr == std::string::npos ? text_.pending().size() : cr + 1;
    if (n < text_.pending().size() && text_.pending()[n] == ctrl::kLf) ++n;
    // The ACK that ends the reply comes with its last line.
    if (n < text_.pending().size() && text_.pending()[n] == ctrl::kAck) ++n;
  }
  n = std::min(n, max);
  std::string line = text_.pending().substr(0, n);
  text_.pending().erase(0, n);
  return line;
}

std::string UsbAttachment::NextBlock(size_t max) {
  if (max == 0) return {};
  // Unsolicited messages go out one per block, each as an STX line.
  if (text_.pending().empty() && !text_.StartUnsolicited()) {
    return std::string(1, '\0');  // nothing waits
  }
  std::string block = text_.pending().substr(0, max);
  text_.pending().erase(0, block.size());
  return block;
}

void UsbAttachment::UpdateStatusWord() {
  // The older firmware tells the host that output waits through the
  // mailbox status word.
  if (!older_firmware()) return;
  card_.memory().SetDprWord(status_word_offset(), text_.Idle() ? 0 : 1);
}

// ---- Scripting and logs ----------------------------------------------------------------------

void UsbAttachment::ScriptFault(uint8_t request, UsbFault fault, size_t bytes, int count) {
  if (count == 0) return;
  std::lock_guard lock(mu_);
  faults_[request].push_back(Fault{fault, bytes, count});
}

void UsbAttachment::ClearFaults() {
  std::lock_guard lock(mu_);
  faults_.clear();
}

void UsbAttachment::SetDetached(bool detached) {
  std::lock_guard lock(mu_);
  detached_ = detached;
}

void UsbAttachment::SetHostRotaryReady(bool ready) {
  std::lock_guard lock(mu_);
  host_rotary_ready_ = ready;
}

std::vector<UsbAttachment::Logged> UsbAttachment::vendor_requests() const {
  std::lock_guard lock(mu_);
  return {log_.begin(), log_.end()};
}

void UsbAttachment::ClearLog() {
  std::lock_guard lock(mu_);
  log_.clear();
}

int UsbAttachment::resets() const {
  std::lock_guard lock(mu_);
  return resets_;
}

int UsbAttachment::configuration() const {
  std::lock_guard lock(mu_);
  return configuration_;
}

std::string UsbAttachment::controller_memory(size_t at, size_t length) const {
  std::lock_guard lock(mu_);
  if (at >= controller_memory_.size()) return {};
  length = std::min(length, controller_memory_.size() - at);
  return std::string(reinterpret_cast<const char*>(controller_memory_.data()) + at, length);
}

std::string UsbAttachment::host_rotary_data() const {
  std::lock_guard lock(mu_);
  return host_rotary_;
}

bool UsbAttachment::gathering() const {
  std::lock_guard lock(mu_);
  return gathering_;
}

uint16_t UsbAttachment::gather_value() const {
  std::lock_guard lock(mu_);
  return gather_value_;
}

}  // namespace zimo::cardsim
