// The card's identification at start (generation and DPR layout from its 7
// identification bytes), and the identification codes: version, date,
// card type, I10, link list and scale factors, each read from the card's
// reply to a command.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/card_framing.h"
#include "usb/device_extension.h"

namespace zimo::drivers::usb {

namespace {

// The identification table: a header byte, vendor id, product id and
// release of the card models (the same values the simulated card reports,
// listed in cardsim/README.md). Only the first 5 bytes are compared.
constexpr IdentificationRow Row(uint16_t product) {
  return {
      0x5A, 0x4D, 0x5A, static_cast<uint8_t>(product & 0xFF), static_cast<uint8_t>(product >> 8),
      0x00, 0x01};
}
constexpr IdentificationRow kTable[kIdentificationRows] = {
    Row(0x0101), Row(0x0102), Row(0x0103), Row(0x0201), Row(0x0202), Row(0x0203), Row(0x0204),
    Row(0x0205), Row(0x0301), Row(0x0302), Row(0x0303), Row(0x0304), Row(0x0305)};
constexpr size_t kCompared = 5;

constexpr uint16_t kSmallStatusWord = 0x06D0;
constexpr uint16_t kLargeStatusWord = 0x0F40;

void SendCommand(DeviceExtension& ext, const std::string& command) {
  VendorOut(ext, vendor::kFlush, vendor::kFlushValue, 0, {});
  VendorOut(ext, vendor::kSendLine, 0, 0,
            std::span(reinterpret_cast<const uint8_t*>(command.data()), command.size()));
}

// One reply block of up to `n` bytes, NUL-terminated; its length.
uint32_t ReadBlock(DeviceExtension& ext, std::vector<char>& block, uint32_t n) {
  block.assign(n + 1, '\0');
  const uint32_t got = VendorIn(ext, vendor::kReadBlock, 0, 0,
                                std::span(reinterpret_cast<uint8_t*>(block.data()), n));
  block[got] = '\0';
  return got;
}

// Decimal digits from `p` (which must start with one); the end in *end.
bool ReadDecimal(const char* p, const char* limit, uint32_t* value, const char** end) {
  if (p >= limit || !std::isdigit(static_cast<unsigned char>(*p))) return false;
  uint32_t v = 0;
  while (p < limit && std::isdigit(static_cast<unsigned char>(*p))) {
    v = v * 10 + static_cast<uint32_t>(*p - '0');
    ++p;
  }
  *value = v;
  *end = p;
  return true;
}

}  // namespace

const IdentificationRow& IdentificationTableRow(int row) {
  return kTable[std::clamp(row, 0, kIdentificationRows - 1)];
}

void IdentifyCard(DeviceExtension& ext) {
  std::lock_guard lock(ext.ioctl_mu);
  IdentificationRow id{};
  VendorIn(ext, vendor::kIdentify, 0, 0, id);
  ReleaseEvents(ext);
  auto is_row = [&id](std::initializer_list<int> rows) {
    for (int r : rows) {
      if (std::memcmp(id.data(), kTable[r].data(), kCompared) == 0) return true;
    }
    return false;
  };
  CardLayer& card = ext.card;
  card.newer = !is_row({0, 1, 2});
  const bool small = is_row({5, 3, 0, 8, 11});
  card.status_word_offset = small ? kSmallStatusWord : kLargeStatusWord;
  card.motors = small ? 8 : 32;
  if (is_row({1, 0})) VendorOut(ext, vendor::kReset, 0, 0, {});
  card.dpr_size = kDprSize;
  card.fill = 0;
  card.position = 0;
  card.more_lines = false;
}

uint32_t GetIdentText(DeviceExtension& ext, const char* command, char* out, size_t room) {
  if (room == 0) return 0;
  SendCommand(ext, command);
  std::vector<char> block;
  const uint32_t got = ReadBlock(ext, block, 20);
  // The text up to the first ACK, NUL or CR.
  size_t length = 0;
  while (length < got && block[length] != ctrl::kAck && block[length] != '\0' &&
         block[length] != ctrl::kCr) {
    ++length;
  }
  length = std::min(length, room - 1);
  std::memcpy(out, block.data(), length);
  out[length] = '\0';
  return static_cast<uint32_t>(length + 1);
}

uint32_t GetCardTypeUsb(DeviceExtension& ext) {
  SendCommand(ext, "TYPE");
  std::vector<char> block;
  ReadBlock(ext, block, 80);
  const std::string_view text(block.data());
  uint32_t type = 1;
  if (text.find("SPRAN1") != std::string_view::npos) {
    type = 5;
  } else if (text.find("SPRAN2") != std::string_view::npos) {
    type = 6;
  } else if (text.find("SPRANU") != std::string_view::npos) {
    type = 7;
  } else if (text.find("ZIMO2") != std::string_view::npos) {
    type = 2;
  }
  ext.card.card_type = type;
  ext.card.motors = type <= 4 ? 8 : 32;
  return type;
}

uint32_t GetI10Usb(DeviceExtension& ext) {
  SendCommand(ext, "I10");
  std::vector<char> block(21 + 1, '\0');
  uint32_t got;
  if (ext.card.newer) {
    got = ReadLineUsb(ext, block.data(), 20) & kLineCountMask;
  } else {
    got = ReadBlock(ext, block, 20);
  }
  const char* p = block.data();
  const char* limit = p + got;
  // "I10=3713707" when the card names its variables.
  if (got > 0 && p[0] == 'I') p += std::min<size_t>(4, got);
  uint32_t value = 0;
  const char* end;
  if (!ReadDecimal(p, limit, &value, &end)) return 0;  // nothing readable
  return value;
}

uint32_t GetLinkListUsb(DeviceExtension& ext, uint32_t* values, size_t max_values) {
  SendCommand(ext, "LIST   LINK");
  std::vector<char> block;
  const uint32_t got = ReadBlock(ext, block, kBlockBytes);
  const size_t limit = std::min<size_t>(max_values, kLinkListEntries);
  size_t count = 0;
  size_t i = 0;
  while (i < got && count < limit) {
    const char c = block[i];
    if (c == ctrl::kAck || c == '\0') break;
    if (c == '\r' || c == '\n' || c == ' ') {
      ++i;
      continue;
    }
    if (!std::isxdigit(static_cast<unsigned char>(c)) ||
        std::islower(static_cast<unsigned char>(c))) {
      break;  // not a list entry (an error reply, say)
    }
    uint32_t v = 0;
    while (i < got && std::isxdigit(static_cast<unsigned char>(block[i])) &&
           !std::islower(static_cast<unsigned char>(block[i]))) {
      const char d = block[i++];
      v = v * 16 + static_cast<uint32_t>(
                       std::isdigit(static_cast<unsigned char>(d)) ? d - '0' : d - 'A' + 10);
    }
    values[count++] = v;
  }
  return static_cast<uint32_t>(count);
}

uint32_t GetScalesUsb(DeviceExtension& ext, bool velocity, uint32_t* values, size_t max_values) {
  const uint32_t motors = std::min<uint32_t>(ext.card.motors, static_cast<uint32_t>(max_values));
  std::string command;
  for (uint32_t m = 1; m <= motors; ++m) {
    char one[16];
    std::snprintf(one, sizeof(one), "I%u%s", m, velocity ? "09" : "08");
    command += one;
  }
  SendCommand(ext, command);
  std::vector<char> block;
  const uint32_t got = ReadBlock(ext, block, kBlockBytes);
  const char* p = block.data();
  const char* limit = p + got;
  for (uint32_t m = 0; m < motors; ++m) values[m] = 0;
  for (uint32_t m = 0; m < motors; ++m) {
    while (p < limit && (*p == '\r' || *p == '\n')) ++p;
    if (p < limit && *p == 'I') {
      const char* eq =
          static_cast<const char*>(std::memchr(p, '=', static_cast<size_t>(limit - p)));
      if (eq == nullptr) break;
      p = eq + 1;
    }
    const char* end;
    if (!ReadDecimal(p, limit, &values[m], &end)) break;
    p = end;
  }
  return motors;
}

}  // namespace zimo::drivers::usb
