// The card's text channel and its other requests: lines and characters in,
// flushes, ready checks, control characters with their answers, resets,
// emulated port registers, gathering, the rotary buffers, the host-side
// rotary packets and raw requests.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/card_framing.h"
#include "usb/device_extension.h"

namespace zimo::drivers::usb {

namespace {

constexpr uint32_t kOlderLineLimit = 160;
constexpr int kReadyChecks = 50;
constexpr uint32_t kHostRotaryPipe = 2;

std::span<const uint8_t> Bytes(const char* text, size_t length) {
  return {reinterpret_cast<const uint8_t*>(text), length};
}

void SendText(DeviceExtension& ext, const char* text, size_t length) {
  VendorOut(ext, vendor::kSendLine, 0, 0, Bytes(text, length));
}

void VendorFlush(DeviceExtension& ext) {
  VendorOut(ext, vendor::kFlush, vendor::kFlushValue, 0, {});
}

void SendChar(DeviceExtension& ext, char c) {
  VendorOut(ext, vendor::kSendChar, static_cast<uint8_t>(c), 0, {});
}

}  // namespace

void WriteLineUsb(DeviceExtension& ext, const char* text, size_t length, size_t input_length) {
  if (ext.card.newer || length < kOlderLineLimit) {
    SendText(ext, text, length);
    return;
  }
  // Older firmware takes 160 characters per request: the rest of the input
  // follows in a second one.
  SendText(ext, text, kOlderLineLimit);
  SendText(ext, text + kOlderLineLimit, input_length - kOlderLineLimit);
}

uint32_t WriteCharUsb(DeviceExtension& ext, char c) {
  if (c == ctrl::kCtrlX || c == ctrl::kCtrlT) EmptyResponseBuffer(ext);
  if (ext.card.newer) {
    SendChar(ext, c);
    return 1;
  }
  SendText(ext, &c, 1);
  return 0;
}

void FlushUsb(DeviceExtension& ext) {
  EmptyResponseBuffer(ext);
  VendorFlush(ext);
}

uint32_t ReadReadyUsb(DeviceExtension& ext) {
  if (ext.card.position != 0) return ext.card.more_lines ? 1 : 0;
  uint8_t word[2] = {0, 0};
  if (ext.card.newer) {
    VendorIn(ext, vendor::kReadyWord, 0, 0, word);
  } else {
    VendorIn(ext, vendor::kReadDpr, ext.card.status_word_offset, 0, word);
  }
  return static_cast<uint32_t>(word[0] | word[1] << 8);
}

void GetControlResponseUsb(DeviceExtension& ext, LineIoBlock& record) {
  const char c = record.text[0];
  const uint32_t requested = std::min<uint32_t>(record.requested, sizeof(record.text));
  if (c == ctrl::kCtrlX || c == ctrl::kCtrlT || c == ctrl::kCtrlP || c == ctrl::kCtrlV ||
      c == ctrl::kCtrlF) {
    EmptyResponseBuffer(ext);
  }
  switch (c) {
    case ctrl::kCtrlB:
    case ctrl::kCtrlC:
    case ctrl::kCtrlF:
    case ctrl::kCtrlG:
    case ctrl::kCtrlP:
    case ctrl::kCtrlV:
    case ctrl::kCtrlY: {
      const uint32_t got =
          VendorIn(ext, vendor::kControlResponse,
                   static_cast<uint16_t>(vendor::kControlResponseValue + static_cast<uint8_t>(c)),
                   0, std::span(reinterpret_cast<uint8_t*>(record.text), requested));
      if (got < sizeof(record.text)) record.text[got] = '\0';
      record.count = got;
      record.status = kLineEnd;
      ext.last_card_error = 0;
      break;
    }
    case ctrl::kCtrlE:
    case ctrl::kCtrlI:
      VendorFlush(ext);
      SendChar(ext, c);
      record.text[0] = '\0';
      record.count = 0;
      record.status = kLineCr;
      break;
    default:
      SendChar(ext, c);
      record.text[0] = '\0';
      record.count = 0;
      record.status = kLineEnd;
      break;
  }
  if (c == 20) VendorFlush(ext);
}

void ReadLineUsbOnce(DeviceExtension& ext, LineIoBlock& record) {
  for (int i = 0; i < kReadyChecks; ++i) {
    if (ReadReadyUsb(ext) == 0) continue;
    const uint32_t got = VendorIn(ext, vendor::kReadLine, 0, 0,
                                  std::span(reinterpret_cast<uint8_t*>(record.text), 255));
    record.text[got] = '\0';
    record.count = got;
    record.status = kLineCr;
    return;
  }
  record.text[0] = '\0';
  record.count = 0;
  record.status = kLineEnd;
}

void ResetCardUsb(DeviceExtension& ext) {
  if (!ext.card.newer) VendorOut(ext, vendor::kReset, 0, 0, {});
  FlushUsb(ext);
  static constexpr char kReset[] = "CLOSEI3=2";
  SendText(ext, kReset, sizeof(kReset) - 1);
  FlushUsb(ext);
}

void PortWriteUsb(DeviceExtension& ext, uint8_t reg, uint8_t value) {
  VendorOut(ext, vendor::kPortRegister, reg, value, {});
}

uint32_t PortReadUsb(DeviceExtension& ext, uint8_t reg) {
  uint8_t byte = 0;
  VendorIn(ext, vendor::kPortRegister, reg, 0, std::span(&byte, 1));
  return byte;
}

void GatherControlUsb(DeviceExtension& ext, uint16_t on, uint16_t period) {
  char text[40];
  int length;
  if (on != 0) {
    length = std::snprintf(text, sizeof(text), "I48=1 I59=%u GAT ", static_cast<unsigned>(period));
  } else {
    length = std::snprintf(text, sizeof(text), "I48=0");
  }
  SendText(ext, text, static_cast<size_t>(length));
  VendorOut(ext, vendor::kGather, static_cast<uint16_t>(period * 60u + 10u), on, {});
}

uint32_t RotBufPutUsb(DeviceExtension& ext, std::span<const uint8_t> input) {
  constexpr size_t kPlain = 4102, kWithBuffer = 4108, kData = 6, kDataRoom = kPlain - kData;
  if (input.size() != kPlain && input.size() != kWithBuffer) return 0;
  uint16_t value = 0;
  if (input.size() == kWithBuffer) {
    uint32_t buffer;
    std::memcpy(&buffer, input.data() + 4104, 4);
    value = static_cast<uint16_t>(buffer & 0xFFFF);
  }
  const size_t count = static_cast<size_t>(input[0] | input[1] << 8);
  // A count past the staging area would send bytes that are not the
  // caller's data.
  if (count > kDataRoom) return 0;
  VendorOut(ext, vendor::kRotaryPut, value, 0, input.subspan(kData, count));
  return RotBufStatusUsb(ext);
}

uint32_t RotBufStatusUsb(DeviceExtension& ext) {
  uint8_t word[4] = {};
  VendorIn(ext, vendor::kRotaryStatus, 0, 0, word);
  uint32_t status;
  std::memcpy(&status, word, 4);
  return status;
}

void RotBufInitUsb(DeviceExtension& ext, uint16_t value) {
  VendorOut(ext, vendor::kRotaryInit, value, 0, {});
}

void HostRotBufUsb(DeviceExtension& ext, uint8_t request) {
  VendorOut(ext, request, vendor::kFlushValue, 0, {});
}

uint32_t HostRotPutUsb(DeviceExtension& ext, std::span<uint8_t> data) {
  if (!ext.card.newer) return 0;  // older firmware has no ready byte: never ready
  uint8_t ready = 0;
  VendorIn(ext, vendor::kHostRotaryReady, 0, 0, std::span(&ready, 1));
  if (ready == 0 || data.empty()) return 0;
  uint32_t moved = 0;
  PipeTransferUsb(ext, kHostRotaryPipe, data, 0, &moved);
  return moved;
}

uint32_t RawVendorRequestUsb(DeviceExtension& ext, uint8_t request, std::span<uint8_t> out) {
  if (request == vendor::kReadBack) {
    return VendorIn(ext, request, 0, 0,
                    out.first(std::min<size_t>(out.size(), vendor::kReadBackBytes)));
  }
  return VendorIn(ext, request, 0, 0, {});
}

}  // namespace zimo::drivers::usb
