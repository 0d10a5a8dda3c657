// What the driver asks the card about itself through its own command
// exchange: I-variables, the card type, the DPR size, version and date, the
// scale factors and the firmware's link list.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "pci/device_extension.h"

namespace zimo::drivers::pci {

namespace {

constexpr uint32_t kDefaultScale = 96;
constexpr int32_t kLargestScale = 8338607;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

uint32_t CountOf(uint32_t result) { return result & kLineCountMask; }

}  // namespace

int32_t ParseNumber(const char* text) {
  const char* p = text;
  while (*p != '\0' && !std::isdigit(static_cast<unsigned char>(*p)) && *p != '$' && *p != '+' &&
         *p != '-') {
    ++p;
  }
  bool negative = false;
  if (*p == '-') {
    negative = true;
    ++p;
  } else if (*p == '+') {
    ++p;
  }
  bool hex = false;
  if (*p == '$') {
    hex = true;
    ++p;
  } else if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
    hex = true;
    p += 2;
  }
  uint32_t value = 0;
  if (hex) {
    for (int d; (d = HexDigit(*p)) >= 0; ++p) value = value * 16 + static_cast<uint32_t>(d);
  } else {
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
      value = value * 10 + static_cast<uint32_t>(*p - '0');
    }
  }
  return static_cast<int32_t>(negative ? 0u - value : value);
}

uint32_t GetIVariable(DeviceExtension& ext, unsigned n, uint32_t default_value) {
  char command[16];
  std::snprintf(command, sizeof(command), "I%u", n);
  char reply[40];
  const uint32_t result = GetResponse(ext, command, reply, sizeof(reply));
  if (CountOf(result) == 0) return default_value;
  const char* equals = std::strchr(reply, '=');
  return static_cast<uint32_t>(ParseNumber(equals != nullptr ? equals + 1 : reply));
}

bool SetIVariable(DeviceExtension& ext, unsigned n, long value) {
  char command[40];
  std::snprintf(command, sizeof(command), "I%u=%ld", n, value);
  char reply[39];
  const uint32_t result = GetResponse(ext, command, reply, sizeof(reply));
  return (result & kLineStatusMask) == 0 && CountOf(result) >= 1;
}

int GetZimoType(DeviceExtension& ext) {
  if (ext.card_type != -1) return ext.card_type;
  const uint32_t i9 = GetIVariable(ext, 9, 0);
  SetIVariable(ext, 9, 2);  // I-variables holding addresses now answer in hex
  char reply[79];
  GetResponse(ext, "I182", reply, sizeof(reply));
  const char* p = reply;
  while (*p == ' ') ++p;
  int type = *p == '$' ? 2 : 1;
  SetIVariable(ext, 9, static_cast<long>(static_cast<int32_t>(i9)));
  GetResponse(ext, "TYPE", reply, sizeof(reply));
  if (std::strstr(reply, "ZIMOU") != nullptr) {
    type = 3;
  } else if (std::strstr(reply, "SPRAN1") != nullptr) {
    type = 6;
  } else if (std::strstr(reply, "SPRAN2") != nullptr) {
    type = 7;
  } else if (std::strstr(reply, "SPRANU") != nullptr) {
    type = 8;
  }
  ext.kernel().DbgPrint("ZIMOPCI: MemBase = %d\n", static_cast<int>(ext.dpr_physical));
  ext.kernel().DbgPrint("ZIMOPCI: GetZimoType() = %d\n", type);
  ext.card_type = type;
  return type;
}

bool GetDpramSize(DeviceExtension& ext, uint32_t* size) {
  *size = 0;
  if (!ext.dpr) return false;
  char reply[255];
  const bool spran = GetZimoType(ext) > 5;
  const uint32_t result = GetResponse(ext, spran ? "rhy$3f" : "rhx$3", reply, sizeof(reply));
  if (CountOf(result) == 0) {
    ext.kernel().DbgPrint("ZIMOPCI: GetDpramSize() Failed\n");
    return false;
  }
  const std::string number = "$" + std::string(reply);
  const uint32_t value = static_cast<uint32_t>(ParseNumber(number.c_str()));
  if (spran) {
    *size = value * 4 - 0x180000;
    if (*size == 0) {
      ext.kernel().DbgPrint("ZIMOPCI: GetDpramSize() Failed\n");
      return false;
    }
  } else {
    *size = (value & 0x800) == 0 ? 0x10000 : 0;
  }
  ext.kernel().DbgPrint("ZIMOPCI: GetDpramSize() = %d\n", static_cast<int>(*size));
  return true;
}

void GetVersionString(DeviceExtension& ext, char* out) {
  GetResponse(ext, "VER", ext.version, sizeof(ext.version));
  std::memcpy(out, ext.version, sizeof(ext.version));
}

void GetDateString(DeviceExtension& ext, char* out) {
  GetResponse(ext, "DATE", ext.date, sizeof(ext.date));
  std::memcpy(out, ext.date, sizeof(ext.date));
}

void GetScaleFactors(DeviceExtension& ext) {
  ext.i10 = GetIVariable(ext, 10, kDefaultI10);
  if (ext.i10 == 0) ext.i10 = kDefaultI10;
  auto clamp = [](uint32_t v) {
    const int32_t s = static_cast<int32_t>(v);
    return s <= 0 || s > kLargestScale ? kDefaultScale : v;
  };
  for (unsigned m = 1; m <= 32; ++m) {
    ext.pos_scales[m - 1] = clamp(GetIVariable(ext, 100 * m + 8, kDefaultScale));
    ext.vel_scales[m - 1] = clamp(GetIVariable(ext, 100 * m + 9, kDefaultScale));
  }
  for (unsigned i = 0; i < 32; ++i) {
    ext.kernel().DbgPrint("ZIMOPCI: posscale[%u] = %lu\n", i,
                          static_cast<unsigned long>(ext.pos_scales[i]));
    ext.kernel().DbgPrint("ZIMOPCI: velscale[%u] = %lu\n", i,
                          static_cast<unsigned long>(ext.vel_scales[i]));
  }
}

bool GetLinkList(DeviceExtension& ext) {
  ext.link_list_valid = false;
  std::memset(ext.link_list, 0, sizeof(ext.link_list));

  char version[kVersionBytes];
  GetVersionString(ext, version);
  version[sizeof(version) - 1] = '\0';
  const char* digit = version;
  while (*digit != '\0' && !std::isdigit(static_cast<unsigned char>(*digit))) ++digit;
  // Byte-wise, as the firmware's version texts sort ("1.14" < "1.15" < "2.00").
  char first4[5] = {};
  std::memcpy(first4, digit, strnlen(digit, 4));
  if (std::memcmp(first4, "1.15", 4) < 0) {
    ext.kernel().DbgPrint("ZIMOPCI: GetLinkList() Invalid Firmware version.\n");
    return false;
  }

  // The card sends one entry per line, and the exchange uses up one byte
  // more than the line for each (its NUL): a room of 545 is spent by 68
  // entries before the closing ACK can be read, and the list would always
  // come out cut. The room holds 68 lines and the ACK; the count comes from
  // the characters the reply holds.
  char reply[kLinkListEntries * 8 + 16];
  const uint32_t result = GetResponse(ext, "LISTLINK", reply, sizeof(reply));
  if ((result & 0x70000000) != 0) {
    ext.kernel().DbgPrint("ZIMOPCI: GetLinkList() Error.\n");
    return false;
  }
  const uint32_t characters = static_cast<uint32_t>(strnlen(reply, sizeof(reply)));
  const uint32_t count = std::min<uint32_t>((characters + 1) / 7, kLinkListEntries);
  const char* p = reply;
  for (uint32_t i = 0; i < count; ++i) {
    while (*p == '\n' || *p == '\r' || *p == '\t' || *p == ' ') ++p;
    if (*p == '\0') {
      if (count > 27) {
        ext.kernel().DbgPrint("ZIMOPCI: GetLinkList() Error.\n");
        return false;
      }
      break;
    }
    char digits[16] = " $";
    size_t n = 0;
    while (n < 13 && ((*p >= '0' && *p <= '9') || (*p >= 'A' && *p <= 'F'))) {
      digits[2 + n++] = *p++;
    }
    digits[2 + n] = '\0';
    const uint32_t value = static_cast<uint32_t>(ParseNumber(digits));
    ext.link_list[i] = value;
    ext.kernel().DbgPrint("ZIMOPCI: %s = 0x%X\n", digits + 2, value);
    if (value > 0xFFFF) {
      ext.kernel().DbgPrint("ZIMOPCI: Linkfile %lu out of range.\n",
                            static_cast<unsigned long>(i + 1));
      return false;
    }
  }
  ext.link_list_valid = true;
  return true;
}

}  // namespace zimo::drivers::pci
