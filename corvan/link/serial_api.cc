// The exported ZimoSER functions over the serial transport. A W form
// converts its text to Windows-1252 and calls the A form; a W reader reads
// into a byte buffer that fits the caller's 16-bit buffer with its
// terminator and converts into it.
#include "corvan/serial_api.h"

#include <string>

#include "corvan/command_api.h"
#include "link/library_app.h"
#include "link/serial_transport.h"
#include "platform/codepage.h"

namespace {

using zimo::corvan::IndexFromDeviceNumber;

int Dev(std::uint32_t device) { return IndexFromDeviceNumber(device); }

const zimo::corvan::SharedDeviceBlock* BlockOf(std::uint32_t device) {
  int d = Dev(device);
  return zimo::corvan::IsRealDevice(d) ? zimo::corvan::App().Block(d) : nullptr;
}

// A byte buffer for a W reader of `max` 16-bit characters: it stores at most
// max - 1 characters, so the text and its terminator fit the caller's buffer.
struct NarrowBuffer {
  explicit NarrowBuffer(std::uint32_t max) : bytes(max + 1, '\0') {}
  std::uint32_t narrow_max(std::uint32_t max) const { return max > 0 ? max - 1 : 0; }
  std::string bytes;
};

std::uint32_t Widen(const std::string& bytes, char16_t* out, std::uint32_t max) {
  if (out == nullptr || max == 0) return 0;
  return static_cast<std::uint32_t>(zimo::platform::WidenInto(bytes.c_str(), out, max));
}

}  // namespace

extern "C" {

std::uint32_t ZimoSERGetBaudrate(std::uint32_t device) {
  const auto* block = BlockOf(device);
  return block != nullptr ? block->SerialBaudrate : 0;
}

std::uint32_t ZimoSERGetPort(std::uint32_t device) {
  const auto* block = BlockOf(device);
  return block != nullptr ? block->SerialPortNumber : 0;
}

std::uint32_t ZimoSERSendCharA(std::uint32_t device, char character) {
  return zimo::corvan::SerSendChar(Dev(device), character);
}

std::uint32_t ZimoSERSendCharW(std::uint32_t device, char16_t character) {
  return ZimoSERSendCharA(device, static_cast<char>(character & 0xFF));
}

std::uint32_t ZimoSERSendLineA(std::uint32_t device, const char* text) {
  return zimo::corvan::SerSendLine(Dev(device), text);
}

std::uint32_t ZimoSERSendLineW(std::uint32_t device, const char16_t* text) {
  if (text == nullptr) return 0;
  zimo::platform::NarrowText narrow(text);
  return ZimoSERSendLineA(device, narrow.c_str());
}

std::uint32_t ZimoSERReadReady(std::uint32_t device) {
  return zimo::corvan::SerReadReady(Dev(device));
}

void ZimoSERFlush(std::uint32_t device) { zimo::corvan::SerFlush(Dev(device)); }

void ZimoSERSendCommandA(std::uint32_t device, const char* text) {
  zimo::corvan::SerSendCommand(Dev(device), text);
}

void ZimoSERSendCommandW(std::uint32_t device, const char16_t* text) {
  if (text == nullptr) return;
  zimo::platform::NarrowText narrow(text);
  ZimoSERSendCommandA(device, narrow.c_str());
}

std::uint32_t ZimoSERGetLineA(std::uint32_t device, char* buffer, std::uint32_t max,
                              std::uint32_t* count) {
  return zimo::corvan::SerGetLine(Dev(device), buffer, max, count);
}

std::uint32_t ZimoSERGetLineW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                              std::uint32_t* count) {
  if (count != nullptr) *count = 0;
  if (buffer == nullptr || max == 0) return ZimoSERGetLineA(device, nullptr, 0, nullptr);
  NarrowBuffer narrow(max);
  std::uint32_t n = 0;
  const std::uint32_t status =
      ZimoSERGetLineA(device, narrow.bytes.data(), narrow.narrow_max(max), &n);
  const std::uint32_t written = Widen(narrow.bytes, buffer, max);
  if (count != nullptr) *count = written + 1;
  return status;
}

std::uint32_t ZimoSERGetBufferA(std::uint32_t device, char* buffer, std::uint32_t max,
                                std::uint32_t* count) {
  return zimo::corvan::SerGetBuffer(Dev(device), buffer, max, count);
}

std::uint32_t ZimoSERGetBufferW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                                std::uint32_t* count) {
  if (count != nullptr) *count = 0;
  if (buffer == nullptr || max == 0) return ZimoSERGetBufferA(device, nullptr, 0, nullptr);
  NarrowBuffer narrow(max);
  std::uint32_t n = 0;
  const std::uint32_t status =
      ZimoSERGetBufferA(device, narrow.bytes.data(), narrow.narrow_max(max), &n);
  Widen(narrow.bytes, buffer, max);
  if (count != nullptr) *count = n;
  return status;
}

std::uint32_t ZimoSERGetResponseA(std::uint32_t device, char* buffer, std::uint32_t max,
                                  const char* command) {
  return zimo::corvan::SerGetResponse(Dev(device), buffer, max, command);
}

std::uint32_t ZimoSERGetResponseW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                                  const char16_t* command) {
  if (buffer == nullptr || max == 0 || command == nullptr) {
    ZimoSERGetResponseA(device, nullptr, 0, nullptr);
    return 0;
  }
  zimo::platform::NarrowText narrow_command(command);
  NarrowBuffer narrow(max);
  const std::uint32_t word = ZimoSERGetResponseA(device, narrow.bytes.data(),
                                                 narrow.narrow_max(max), narrow_command.c_str());
  Widen(narrow.bytes, buffer, max);
  if ((word & zimo::corvan::kStatusMask) == zimo::corvan::kStatusTimeout) return 0;
  return word & zimo::corvan::kCountMask;
}

std::uint32_t ZimoSERGetControlResponseA(std::uint32_t device, char* buffer, std::uint32_t max,
                                         char character) {
  return zimo::corvan::SerGetControlResponse(Dev(device), buffer, max, character);
}

std::uint32_t ZimoSERGetControlResponseW(std::uint32_t device, char16_t* buffer, std::uint32_t max,
                                         char16_t character) {
  if (buffer == nullptr || max == 0) {
    return ZimoSERGetControlResponseA(device, nullptr, 0, 0) & zimo::corvan::kStatusMask;
  }
  NarrowBuffer narrow(max);
  const std::uint32_t word = ZimoSERGetControlResponseA(
      device, narrow.bytes.data(), narrow.narrow_max(max), static_cast<char>(character & 0xFF));
  Widen(narrow.bytes, buffer, max);
  return word & zimo::corvan::kStatusMask;
}

}  // extern "C"
