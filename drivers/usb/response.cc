// The reply side of the card's text channel: reply blocks read ahead into
// the 16 KB response buffer and handed out line by line, single reply
// lines, and raw response blocks.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "common/card_framing.h"
#include "usb/device_extension.h"

namespace zimo::drivers::usb {

namespace {

using ctrl::kAck;
using ctrl::kBel;
using ctrl::kCr;
using ctrl::kLf;
using ctrl::kStx;

bool EndsLine(char c) { return c == '\0' || c == kAck || c == kLf || c == kCr; }

// The first decimal number of an error reply; a reply without digits is
// error 3, as the card's bare BEL means a bad command.
int32_t FirstNumber(const char* text, uint32_t count) {
  uint32_t i = 0;
  while (i < count && !std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
  if (i == count) return static_cast<int32_t>(kErrorNoDigits);
  int32_t n = 0;
  while (i < count && std::isdigit(static_cast<unsigned char>(text[i])) && n < 100000000) {
    n = n * 10 + (text[i] - '0');
    ++i;
  }
  return n;
}

uint32_t ReadBlockInto(DeviceExtension& ext, char* buffer, uint32_t n) {
  return VendorIn(ext, vendor::kReadBlock, 0, 0, std::span(reinterpret_cast<uint8_t*>(buffer), n));
}

// Classifies a block of `count` bytes at `buffer` (room for n bytes and a NUL).
uint32_t Classify(DeviceExtension& ext, char* buffer, uint32_t count, uint32_t n, bool follow_lf) {
  buffer[count] = '\0';
  if (count == 0 || buffer[0] == '\0') {
    buffer[0] = '\0';
    return kLineTimeout;
  }
  if (buffer[0] == kBel) {
    ext.last_card_error = FirstNumber(buffer, count);
    return kLineError | count;
  }
  if (buffer[0] == kStx) {
    buffer[count - 1] = '\0';
    return kLineEnd | (count - 1);
  }
  const char last = buffer[count - 1];
  if (last == kAck) {
    buffer[count - 1] = '\0';
    return kLineEnd | (count - 1);
  }
  if (last == kLf) {
    if (count == 1 && follow_lf && n > 1) {
      // A block of one LF: the text goes on in the next block, joined to it
      // behind the LF, which stays part of the text.
      const uint32_t more = ReadBlockInto(ext, buffer + 1, n - 1);
      const uint32_t rest = Classify(ext, buffer + 1, more, n - 1, false);
      const uint32_t status = (rest & kLineStatusMask) == kLineError ? kLineError : kLineEnd;
      return status | (1 + (rest & kLineCountMask));
    }
    // A full block that happens to end a line may well have more behind it:
    // the next read tells.
    if (count == n) return count;
    return kLineEnd | count;
  }
  if (count >= 8 && last == kCr && buffer[count - 8] == kBel) return kLineEnd | count;
  return count;
}

// Reads up to four blocks into the empty response buffer; the status of the
// last block read.
uint32_t FillResponseBuffer(DeviceExtension& ext) {
  CardLayer& card = ext.card;
  card.position = 0;
  card.fill = 0;
  uint32_t status = kLineTimeout;
  for (int i = 0; i < 4; ++i) {
    const uint32_t r = ReadResponseUsb(ext, card.response.data() + card.fill, kBlockBytes);
    card.fill += r & kLineCountMask;
    status = r & kLineStatusMask;
    if (status != 0) break;
  }
  return status;
}

}  // namespace

uint32_t ReadResponseUsb(DeviceExtension& ext, char* buffer, uint32_t n) {
  const uint32_t count = ReadBlockInto(ext, buffer, n);
  return Classify(ext, buffer, count, n, true);
}

void EmptyResponseBuffer(DeviceExtension& ext) {
  ext.card.fill = 0;
  ext.card.position = 0;
  ext.card.more_lines = false;
}

uint32_t SplitLineUsb(const char* from, char* record_text, uint32_t room) {
  constexpr uint32_t kText = sizeof(LineIoBlock::text);
  if (EndsLine(from[0])) {
    record_text[0] = from[0];
    return 1;
  }
  room = std::min(room, kText);
  for (uint32_t i = 0; i < room; ++i) {
    record_text[i] = from[i];
    if (EndsLine(from[i])) {
      if (i + 1 < kText) record_text[i + 1] = '\0';
      return i + 1;
    }
  }
  if (room < kText) record_text[room] = '\0';
  return room;
}

void GetLineUsb(DeviceExtension& ext, LineIoBlock& record, bool mailbox_code) {
  CardLayer& card = ext.card;
  const uint32_t requested = std::min<uint32_t>(record.requested, sizeof(record.text));
  auto done = [&record](uint32_t status, uint32_t count) {
    record.status = status;
    record.count = count;
  };
  if (card.response.empty()) {  // the device is going away
    record.text[0] = '\0';
    return done(kLineTimeout, 0);
  }
  // A reply handed out to its end: the end of the response.
  if (card.fill != 0 && card.position >= card.fill) {
    EmptyResponseBuffer(ext);
    record.text[0] = '\0';
    return done(kLineEnd, 0);
  }
  if (card.fill == 0) {
    const uint32_t status = FillResponseBuffer(ext);
    if (card.fill == 0) {
      EmptyResponseBuffer(ext);
      record.text[0] = '\0';
      return done(status == kLineEnd ? kLineEnd : kLineTimeout, 0);
    }
  }
  char* buffer = card.response.data();
  const uint32_t start = card.position;
  uint32_t count = SplitLineUsb(buffer + start, record.text, requested);
  card.position = std::min(start + count, kResponseUsed);
  uint32_t status = kLineCr;
  card.more_lines = true;

  if (card.position == kResponseUsed) {
    const char last = buffer[kResponseUsed - 1];
    if (last == kCr || last == kLf) {
      card.fill = 0;  // the line ended there: the next get line reads the next block
    } else if (card.fill == kResponseUsed) {
      // A line cut by the buffer's end: what it held of the line, exactly,
      // then the rest from the next blocks.
      const uint32_t taken = std::min(count, kResponseUsed - start);
      count = taken;
      const uint32_t fill_status = FillResponseBuffer(ext);
      if (card.fill == 0) {
        if (fill_status == kLineEnd) {
          status = kLineEnd;
          EmptyResponseBuffer(ext);
        }
      } else if (taken < requested && taken < sizeof(record.text)) {
        const uint32_t rest = SplitLineUsb(buffer, record.text + taken, requested - taken);
        card.position = rest;
        count = taken + rest;
      } else {
        card.position = 0;
      }
      if (count < sizeof(record.text)) record.text[count] = '\0';
    }
  }

  if (count > 0 && record.text[0] == kBel) {
    // BEL "ERR0" and two digits.
    const bool digits = count >= 7 && std::isdigit(static_cast<unsigned char>(record.text[5])) &&
                        std::isdigit(static_cast<unsigned char>(record.text[6]));
    ext.last_card_error = digits ? (record.text[5] - '0') * 10 + (record.text[6] - '0')
                                 : static_cast<int32_t>(kErrorNoDigits);
    status = kLineError;
    EmptyResponseBuffer(ext);
  } else {
    ext.last_card_error = 0;
  }
  if (mailbox_code && count > 0)
    record.text[std::min<uint32_t>(count, sizeof(record.text)) - 1] = '\0';
  done(status, count);
}

uint32_t ReadLineUsb(DeviceExtension& ext, char* destination, uint32_t n) {
  const uint32_t m = std::min<uint32_t>(n, 256);
  uint32_t count =
      VendorIn(ext, vendor::kReadLine, 0, 0, std::span(reinterpret_cast<uint8_t*>(destination), m));
  destination[count] = '\0';
  if (count == 0 || destination[0] == '\0') {
    destination[0] = '\0';
    return kLineTimeout;
  }
  if (destination[0] == kBel) {
    // A bare BEL (and CR): the number follows in the next line.
    if (count <= 2 && count < m) {
      count += VendorIn(ext, vendor::kReadLine, 0, 0,
                        std::span(reinterpret_cast<uint8_t*>(destination) + count, m - count));
      destination[count] = '\0';
    }
    ext.last_card_error = FirstNumber(destination, count);
    return kLineError | count;
  }
  uint32_t status = kLineCr;
  if (destination[count - 1] == kAck) {
    --count;
    status = kLineEnd;
  }
  destination[count] = '\0';
  ext.last_card_error = 0;
  return status | count;
}

uint32_t GetResponseBlockUsb(DeviceExtension& ext, char* out, uint32_t room) {
  uint32_t total = 0;
  for (int i = 0; i < 4; ++i) {
    // Each block is NUL-terminated in place: it never reaches past the output.
    if (room - total <= 1) break;
    const uint32_t n = std::min(kBlockBytes, room - total - 1);
    const uint32_t r = ReadResponseUsb(ext, out + total, n);
    total += r & kLineCountMask;
    if ((r & kLineStatusMask) != 0) break;
  }
  return total;
}

}  // namespace zimo::drivers::usb
