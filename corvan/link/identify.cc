#include "link/identify.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "corvan/command_api.h"
#include "corvan/identify_api.h"
#include "link/library_app.h"
#include "link/link_list.h"
#include "link/text_utils.h"

namespace zimo::corvan {

namespace {

// Reply buffers of the identification's questions (characters + terminator).
constexpr std::uint32_t kShortReplySize = 80;
constexpr std::uint32_t kLongReplySize = 256;
constexpr std::uint32_t kFirmwareReplySize = kFirmwareTextSize;

constexpr std::uint32_t kOlderMotors = 8;
constexpr std::uint32_t kSpranMotors = 32;
constexpr std::uint32_t kOlderVariables = 1024;
constexpr std::uint32_t kSpranVariables = 8192;
constexpr std::uint32_t kOlderPlcTableBase = 0x8000;
constexpr std::uint32_t kSpranPlcTableBase = 0x50000;

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

bool HasErrorBits(std::uint32_t word) { return (word & kErrorBits) != 0; }

// The reply to a question asked with I9 = 2, so that the card shows address
// I-variables as "$hex"; I9 is set back to what it was.
void AskWithI9Set(CardCommandPath& path, int device, const char* question, char* reply,
                  std::uint32_t size) {
  const std::int32_t i9 = GetVariable32(path, device, 'I', 9, 0);
  SetVariable32(path, device, 'I', 9, 2, /*echo=*/true);
  reply[0] = '\0';
  path.GetResponseEx(device, reply, size, question);
  SetVariable32(path, device, 'I', 9, i9, /*echo=*/true);
}

// Type 6, 8 or 9 of a "SPRAN2" card: bit 16 of the global status tells the
// type-8 family; the last digit of I4900 tells 8 from 9.
std::int32_t Spran2Type(CardCommandPath& path, int device) {
  char status[kLongReplySize] = {};
  path.GetResponseEx(device, status, sizeof status, "???");
  StripControlChars(status);
  if (!HexTextBit(status, 16)) return kCardSpran2;
  char i4900[kShortReplySize];
  AskWithI9Set(path, device, "I4900", i4900, sizeof i4900);
  StripControlChars(i4900);
  const std::size_t length = std::strlen(i4900);
  const char last = length > 0 ? i4900[length - 1] : '\0';
  return (last == '0' || last == '4' || last == '8' || last == 'C') ? kCardSpran2Type8
                                                                    : kCardSpran2Type9;
}

// A card that names no type is a type 2 when it shows I182 as "$hex".
bool AnswersI182InHex(CardCommandPath& path, int device) {
  char reply[kShortReplySize];
  AskWithI9Set(path, device, "I182", reply, sizeof reply);
  const char* p = reply;
  while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
  return *p == '$';
}

bool ReadFirmwareText(CardCommandPath& path, int device, const char* question, char* field) {
  CommandPathLock lock(path, device);
  char reply[kFirmwareReplySize] = {};
  const std::uint32_t word = path.GetResponseEx(device, reply, sizeof reply, question);
  reply[sizeof reply - 1] = '\0';
  StripControlChars(reply);
  const bool replied = !HasErrorBits(word) && (word & kCountMask) > 0 && reply[0] != '\0';
  CopyTerminated(field, kFirmwareTextSize, replied ? reply : kNoFirmwareText);
  return replied;
}

bool IsValidScaleVariable(std::int32_t value) { return value > 0 && value < kScaleVariableLimit; }

}  // namespace

int HexTextBit(const char* text, int n) {
  if (text == nullptr || n < 0) return 0;
  const long index = static_cast<long>(std::strlen(text)) - n / 4 - 1;
  if (index < 0) return 0;
  const char c = text[index];
  int value;
  if (c >= '0' && c <= '9') {
    value = c - '0';
  } else if (c >= 'A' && c <= 'F') {
    value = c - 'A' + 10;
  } else if (c >= 'a' && c <= 'f') {
    value = c - 'a' + 10;
  } else {
    return 0;
  }
  const int mask = 1 << (n % 4);
  return (value & mask) == mask ? 1 : 0;
}

std::int32_t CardTypeFromName(std::string_view text) {
  if (Contains(text, "ZIMO1")) return kCardZimo1;
  if (Contains(text, "ZIMO2")) return kCardZimo2;
  if (Contains(text, "ZIMOU")) return kCardZimoU;
  if (Contains(text, "SPRAN1")) return kCardSpran1;
  if (Contains(text, "SPRAN2")) return kCardSpran2;
  if (Contains(text, "SPRANU")) return kCardSpranU;
  return 0;
}

void ApplyGenerationValues(SharedDeviceBlock& block, std::string_view type_text) {
  const bool spran = block.CardType >= kCardFirstSpran;
  block.SpranFlag = spran ? 1 : 0;
  SetCardCounts(block);
  const std::uint32_t base = spran ? kSpranPlcTableBase : kOlderPlcTableBase;
  block.PlcTableBase = base;
  block.PlcChainEnd = base + 96;
  block.PlcCodeStart = base + (spran ? 130 : 98);
  block.PlcSlotTable = base + 32;
  if (!spran) {
    block.BoardVariant = Contains(type_text, "ESA") ? 2 : Contains(type_text, "LHB") ? 3 : 1;
  }
}

void SetCardCounts(SharedDeviceBlock& block) {
  const bool spran = block.SpranFlag == 1;
  block.CardMotorCount = spran ? kSpranMotors : kOlderMotors;
  block.CardVariableCount = spran ? kSpranVariables : kOlderVariables;
}

int DetectCardType(CardCommandPath& path, int device, SharedDeviceBlock& block) {
  CommandPathLock lock(path, device);
  block.CardType = kCardZimo1;

  char cpu[kShortReplySize] = {};
  const std::uint32_t cpu_word = path.GetResponseEx(device, cpu, sizeof cpu, "CPU");
  cpu[sizeof cpu - 1] = '\0';
  std::uint32_t cpu_model = 0;
  if (!HasErrorBits(cpu_word) && std::strlen(cpu) > 3) {
    const long number = std::strtol(cpu + 3, nullptr, 10);
    cpu_model = number > 0 ? static_cast<std::uint32_t>(number) : 0;
  }
  block.CpuModel = cpu_model;

  char type[kShortReplySize] = {};
  path.GetResponseEx(device, type, sizeof type, "TYPE");
  type[sizeof type - 1] = '\0';
  std::int32_t code = CardTypeFromName(type);
  if (code == kCardSpran2) {
    code = Spran2Type(path, device);
  } else if (code == 0) {
    code = AnswersI182InHex(path, device) ? kCardZimo2 : kCardZimo1;
  }
  block.CardType = code;
  ApplyGenerationValues(block, type);
  return 1;
}

bool ReadFirmwareVersion(CardCommandPath& path, int device, SharedDeviceBlock& block) {
  return ReadFirmwareText(path, device, "VERSION", block.FirmwareVersion);
}

bool ReadFirmwareDate(CardCommandPath& path, int device, SharedDeviceBlock& block) {
  return ReadFirmwareText(path, device, "DATE", block.FirmwareDate);
}

int ComputeServoTiming(CardCommandPath& path, int device, SharedDeviceBlock& block) {
  CommandPathLock lock(path, device);
  std::int32_t i10 =
      GetVariable32(path, device, 'I', 10, static_cast<std::int32_t>(kDefaultServoI10));
  // A servo time that is not positive would make every velocity factor
  // meaningless; the firmware's default stands in for it.
  if (i10 <= 0) i10 = static_cast<std::int32_t>(kDefaultServoI10);
  block.ServoI10 = static_cast<std::uint32_t>(i10);
  const double servo = static_cast<double>(i10);

  const std::uint32_t motors = std::min<std::uint32_t>(block.CardMotorCount, kMaxMotors);
  for (std::uint32_t m = 0; m < motors; ++m) {
    const std::uint32_t motor_base = (m + 1) * 100;
    const std::int32_t ixx08 = GetVariable32(path, device, 'I', motor_base + 8, kDefaultIxx0809);
    const std::int32_t ixx09 = GetVariable32(path, device, 'I', motor_base + 9, kDefaultIxx0809);
    block.MotorPositionFactor[m] =
        IsValidScaleVariable(ixx08) ? 1.0 / (static_cast<double>(ixx08) * 32.0) : 1.0 / 3072.0;
    block.MotorVelocityFactor[m] =
        IsValidScaleVariable(ixx09)
            ? kVelocityScaleNumerator / (static_cast<double>(ixx09) * 32.0 * servo)
            : kVelocityScaleNumerator / (servo * 3072.0);
  }
  return 1;
}

int QueryBootstrapMode(CardCommandPath& path, int device, SharedDeviceBlock& block) {
  CommandPathLock lock(path, device);
  char reply[kLongReplySize] = {};
  path.GetResponseEx(device, reply, sizeof reply, "?");
  reply[sizeof reply - 1] = '\0';
  if (reply[0] == '\n' && (block.Location == kLocationUsb || block.Location == kLocationEthernet)) {
    path.GetLine(device, reply, sizeof reply);
    reply[sizeof reply - 1] = '\0';
  }
  const int flag = std::strstr(reply, "BOOTSTRAP") != nullptr ? 1 : 0;
  block.BootstrapFlag = static_cast<std::uint32_t>(flag);
  return flag;
}

void RunFirstOpenIdentification(CardCommandPath& path, int device, SharedDeviceBlock& block) {
  CommandPathLock lock(path, device);
  DetectCardType(path, device, block);
  SetCardCounts(block);
  ReadFirmwareVersion(path, device, block);
  ReadFirmwareDate(path, device, block);
  block.PlccEnabled = static_cast<std::uint32_t>(ReadLinkList(path, device, block));
  ComputeServoTiming(path, device, block);
}

void RunFirstOpenIdentification(int device) {
  SharedDeviceBlock* block = App().Block(device);
  if (block != nullptr) RunFirstOpenIdentification(LibraryCommandPath(), device, *block);
}

bool IsOpenInProcess(int device) {
  if (!IsRealDevice(device)) return false;
  const DeviceUserHandle* user = App().User(device);
  return user != nullptr && user->Transport != nullptr;
}

std::uint32_t GetBootstrapFlag(int device) {
  const SharedDeviceBlock* block = App().Block(device);
  return block != nullptr ? block->BootstrapFlag : 0;
}

std::int32_t CardTypeOf(int index) {
  SharedDeviceBlock* block = App().Block(index);
  if (block == nullptr) return 0;
  if (IsOpenInProcess(index)) DetectCardType(LibraryCommandPath(), index, *block);
  return block->CardType;
}

int InBootstrapMode(int index) {
  SharedDeviceBlock* block = App().Block(index);
  if (block == nullptr) return 0;
  if (!IsOpenInProcess(index)) return block->BootstrapFlag != 0 ? 1 : 0;
  return QueryBootstrapMode(LibraryCommandPath(), index, *block);
}

}  // namespace zimo::corvan

namespace {

using zimo::corvan::App;
using zimo::corvan::IndexFromDeviceNumber;
using zimo::corvan::kFirmwareTextSize;
using zimo::corvan::SharedDeviceBlock;

enum class FirmwareText { kVersion, kDate };

// Copies a firmware text of the device into `buffer`: at most size - 1
// characters, terminated. The shared field is read with its own bound, as
// another process may have left it without a terminator.
char* CopyFirmwareText(std::uint32_t device, FirmwareText which, char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size == 0) return buffer;
  const SharedDeviceBlock* block = App().Block(IndexFromDeviceNumber(device));
  const char* field = block == nullptr                  ? ""
                      : which == FirmwareText::kVersion ? block->FirmwareVersion
                                                        : block->FirmwareDate;
  const std::size_t length =
      std::min<std::size_t>(strnlen(field, kFirmwareTextSize), std::size_t{size} - 1);
  std::memcpy(buffer, field, length);
  buffer[length] = '\0';
  return buffer;
}

}  // namespace

extern "C" {

std::int32_t ZimoGetZimoType(std::uint32_t device) {
  return zimo::corvan::CardTypeOf(IndexFromDeviceNumber(device));
}

std::int32_t bZIMOIsSpran(std::uint32_t device) {
  const SharedDeviceBlock* block = App().Block(IndexFromDeviceNumber(device));
  return block != nullptr && block->SpranFlag == 1 ? 1 : 0;
}

char* ZimoGetRomVersionA(std::uint32_t device, char* buffer, std::uint32_t size) {
  return CopyFirmwareText(device, FirmwareText::kVersion, buffer, size);
}

char* ZimoGetRomDateA(std::uint32_t device, char* buffer, std::uint32_t size) {
  return CopyFirmwareText(device, FirmwareText::kDate, buffer, size);
}

std::int32_t ZimoInBootStrapMode(std::uint32_t device) {
  return zimo::corvan::InBootstrapMode(IndexFromDeviceNumber(device));
}

}  // extern "C"
