// zimo-term: sends command lines to a Zimo card through the communications
// library and prints each response with its result word.
//
//   zimo-term [-d DEVICE] [-s COM] [LINE...]
//
// Opens DEVICE (0 by default) as any client program does, exchanges each
// LINE (or, with none given, each line of standard input) for the card's
// whole response, and closes the device again. With -s it first registers
// DEVICE as the serial card on port COM, so that a fresh ZIMO_HOME needs no
// other set-up.
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/device_api.h"
#include "corvan/registry_api.h"
#include "platform/device_io.h"
#include "platform/registry.h"
#include "platform/serial_port.h"

namespace {

// The response buffer a form of the lab program hands the library.
constexpr std::uint32_t kResponseBufferSize = 16999;

constexpr char kUsage[] =
    "usage: zimo-term [-d DEVICE] [-s COM] [--] [LINE...]\n"
    "\n"
    "Opens Zimo device DEVICE through the communications library and sends\n"
    "each LINE to its card, or each line of standard input when no LINE is\n"
    "given. Prints every response and its result word: the count of\n"
    "characters in the low 28 bits, the status in the top four (8 complete,\n"
    "C time-out, D bad acknowledge, E card error, F failure); after a failure\n"
    "the library's error follows on a line starting with \"!\".\n"
    "\n"
    "Options:\n"
    "  -d, --device DEVICE  the device number, 0 to 7 (default 0)\n"
    "  -s, --serial COM     first registers DEVICE as the serial card on port\n"
    "                       COM, 0 to 7 (Location 2, Enumeration COM)\n"
    "  --                   the words after it are lines, even when they start\n"
    "                       with -\n"
    "  -h, --help           prints this text and ends\n"
    "\n"
    "Opening a serial card takes about 5 seconds: the library measures the\n"
    "card's character time at every open. Devices are described in the\n"
    "registry of $ZIMO_HOME (see docs/configuration.md).\n"
    "\n"
    "Examples:\n"
    "  zimo-term -s 1 -d 0 VERSION I10    # device 0 is the card on COM1\n"
    "  echo P1 | zimo-term -d 2\n"
    "\n"
    "Exit status: 0 when every exchange completed (card errors included),\n"
    "1 when the device could not be opened (the reason is printed) or an\n"
    "exchange timed out, failed or did not reach the card (its error is\n"
    "printed), 2 for a usage error.\n";

const char* StatusName(std::uint32_t word) {
  switch (word & zimo::corvan::kStatusMask) {
    case zimo::corvan::kStatusLine:
      return "line";
    case zimo::corvan::kStatusUnsolicited:
      return "unsolicited";
    case zimo::corvan::kStatusAck:
      return "complete";
    case zimo::corvan::kStatusTimeout:
      return "time-out";
    case zimo::corvan::kStatusBadAck:
      return "bad acknowledge";
    case zimo::corvan::kStatusCardError:
      return "card error";
    case zimo::corvan::kStatusFailure:
      return "failure";
    default:
      return "unknown status";
  }
}

// The response as lines: CR ends a line, other control characters are shown
// as ^X so that a BEL or STX can be seen.
void PrintResponse(const char* text, std::uint32_t count) {
  std::string line;
  for (std::uint32_t i = 0; i < count && text[i] != '\0'; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r') {
      std::printf("%s\n", line.c_str());
      line.clear();
    } else if (c < 0x20 || c == 0x7F) {
      line += '^';
      line += static_cast<char>(c == 0x7F ? '?' : c + '@');
    } else {
      line += static_cast<char>(c);
    }
  }
  if (!line.empty()) std::printf("%s\n", line.c_str());
}

// Exchanges one line; false when it timed out or failed, or the line did
// not reach the card.
bool Exchange(std::uint32_t device, const std::string& line, std::vector<char>& buffer) {
  std::printf("> %s\n", line.c_str());
  const std::uint32_t word = ZimoGetResponseExA(
      device, buffer.data(), static_cast<std::uint32_t>(buffer.size()), line.c_str());
  const std::uint32_t count = word & zimo::corvan::kCountMask;
  PrintResponse(buffer.data(), count);
  std::printf("= 0x%08X (%s, %u characters)\n", word, StatusName(word), count);
  const std::uint32_t status = word & zimo::corvan::kStatusMask;
  bool answered = status != zimo::corvan::kStatusTimeout && status != zimo::corvan::kStatusBadAck &&
                  status != zimo::corvan::kStatusFailure;
  // Nothing at all came back: the line may not even have gone out (a link
  // that was dropped). The library's error says which.
  if (answered && status == zimo::corvan::kStatusLine && count == 0 && ZimoGetError(device) != 0) {
    answered = false;
  }
  if (!answered) {
    char text[128] = {};
    const std::int32_t error = ZimoGetErrorStrA(device, text, sizeof text);
    if (error != 0) std::printf("! error %d %s\n", static_cast<int>(error), text);
  }
  std::fflush(stdout);
  return answered;
}

constexpr std::uint32_t kSerialLocation = 2;

// The driver device of a bus card's Location ("ISA", "PCI", "USB"), or null
// for a Location without one.
const char* DriverDeviceKind(std::uint32_t location) {
  switch (location) {
    case 1:
      return "ISA";
    case 4:
      return "PCI";
    case 5:
      return "USB";
    default:
      return nullptr;
  }
}
constexpr char kDeviceKey[] = "SYSTEM\\CurrentControlSet\\Services\\ZIMO\\Device";
constexpr char kServerClassKey[] = "ZimoServer.ZimoService\\CLSID";

// Why the device could not be opened, as far as the registry and the system
// tell: a registry that cannot be read, no registered server, no registered
// device, a serial port or a bus card's driver device that is not there;
// else the card did not answer.
std::string OpenFailureReason(std::uint32_t device) {
  namespace platform = zimo::platform;
  const std::string device_key = kDeviceKey + std::to_string(device);
  auto key =
      platform::RegistryKey::Open(platform::kHkeyLocalMachine, device_key, platform::kKeyRead);
  if (!key.ok() && key.status().code() != platform::Code::kNotFound) {
    return "the registry cannot be read: " + key.status().message();
  }
  if (!platform::RegistryKey::Exists(platform::kHkeyClassesRoot, kServerClassKey)) {
    return "ZimoServer is not registered; run `zimoserver -RegServer` once";
  }
  auto location =
      key.ok() ? key->GetDword("Location") : platform::Result<std::uint32_t>(key.status());
  if (!location.ok()) {
    return "device " + std::to_string(device) +
           " is not registered (no Location); give -s COM for a serial card";
  }
  // Programs see the device keys from Device0 up to the first gap only: a
  // device past a gap is not opened at all, whatever its card does.
  const auto count = DrvNumberOfDevices();
  const std::string gap =
      "device " + std::to_string(device) + " is not reached: the device keys stop at Device" +
      std::to_string(count < 0 ? 0 : count) +
      " (they must run from Device0 without a gap; see docs/configuration.md)";
  const bool reached = count > 0 && device < static_cast<std::uint32_t>(count);
  if (*location == kSerialLocation) {
    auto enumeration = key->GetDword("Enumeration");
    const int port = enumeration.ok() ? static_cast<int>(*enumeration) : 0;
    const std::string name = "COM" + std::to_string(port);
    auto opened = platform::SerialPort::Open("\\\\.\\" + name, platform::SerialShare::kShared);
    if (!opened.ok()) {
      return "serial port " + name +
             " is not there or cannot be used: " + opened.status().message();
    }
    if (!reached) return gap;
    return "the card on " + name + " (" + opened->device_path().string() + ") did not answer";
  }
  if (const char* kind = DriverDeviceKind(*location)) {
    auto enumeration = key->GetDword("Enumeration");
    const std::string name = std::string("Zimo") + kind +
                             std::to_string(enumeration.ok() ? *enumeration : 0);
    auto opened = platform::DeviceFile::Open("\\\\.\\" + name, nullptr,
                                             std::chrono::milliseconds(2000));
    if (!opened.ok()) {
      std::string kind_word = kind;
      for (char& c : kind_word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return "the driver device \\\\.\\" + name +
             " is missing: the driver host is not running or serves no such card; start it "
             "with the card, e.g. `zimo-drvhost --card \"" +
             kind_word + " older\" --no-registry &` (see docs/configuration.md)";
    }
    if (!reached) return gap;
    return "the card behind the driver device \\\\.\\" + name + " did not answer";
  }
  if (!reached) return gap;
  return "the card (Location " + std::to_string(*location) + ") did not answer";
}

// A number from 0 to 7 (a device, or a serial port's Enumeration).
bool ParseZeroToSeven(const char* text, std::uint32_t* number) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 0 || value > 7) return false;
  *number = static_cast<std::uint32_t>(value);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::uint32_t device = 0;
  std::uint32_t serial_port = 0;
  bool register_serial = false;
  std::vector<std::string> lines;
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options_done && (arg == "-h" || arg == "--help")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!options_done && (arg == "-d" || arg == "--device" || arg == "-s" || arg == "--serial")) {
      const bool is_device = arg == "-d" || arg == "--device";
      if (i + 1 >= argc || !ParseZeroToSeven(argv[i + 1], is_device ? &device : &serial_port)) {
        std::fprintf(stderr, "zimo-term: %s needs a number from 0 to 7\n", arg.c_str());
        return 2;
      }
      register_serial = register_serial || !is_device;
      ++i;
      continue;
    }
    if (!options_done && arg == "--") {
      options_done = true;
      continue;
    }
    if (!options_done && arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "zimo-term: unknown option %s\n%s", arg.c_str(), kUsage);
      return 2;
    }
    lines.push_back(arg);
  }

  if (register_serial && (DrvSetDeviceDword(device, "Location", kSerialLocation) != 0 ||
                          DrvSetDeviceDword(device, "Enumeration", serial_port) != 0)) {
    std::fprintf(stderr, "zimo-term: device %u could not be registered on COM%u: %s\n", device,
                 serial_port, OpenFailureReason(device).c_str());
    return 1;
  }
  if (OpenZimoDevice(device) != 1) {
    std::fprintf(stderr, "zimo-term: device %u could not be opened: %s\n", device,
                 OpenFailureReason(device).c_str());
    return 1;
  }
  std::vector<char> buffer(kResponseBufferSize);
  bool all_answered = true;
  if (!lines.empty()) {
    for (const std::string& line : lines)
      all_answered = Exchange(device, line, buffer) && all_answered;
  } else {
    std::string line;
    while (std::getline(std::cin, line)) {
      while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
      if (line.empty()) continue;
      all_answered = Exchange(device, line, buffer) && all_answered;
    }
  }
  CloseZimoDevice(device);
  return all_answered ? 0 : 1;
}
