#include "link/link_list.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "corvan/command_api.h"
#include "corvan/identify_api.h"
#include "link/identify.h"
#include "link/library_app.h"
#include "link/text_utils.h"
#include "platform/profile.h"

namespace zimo::corvan {

namespace {

constexpr int kMaxEntryDigits = 13;
// The "TYPE" reply of a backup (characters + terminator).
constexpr std::uint32_t kTypeReplySize = 256;
// "<version>- <type reply>".
constexpr std::size_t kSectionNameSize = kFirmwareTextSize + 2 + kTypeReplySize;

bool IsListBlank(char c) { return c == '\n' || c == '\r' || c == '\t' || c == ' '; }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void ClearLinkList(SharedDeviceBlock& block) {
  std::fill(std::begin(block.LinkList), std::end(block.LinkList), 0u);
}

}  // namespace

int CompareFirmwareVersion(const char* version, const char* reference, std::size_t length) {
  if (version == nullptr || !(version[0] >= '0' && version[0] <= '9')) return -1;
  return std::strncmp(version, reference, length);
}

LinkListParse ParseLinkList(const char* reply, std::uint32_t count,
                            std::uint32_t entries[kLinkListEntries]) {
  // The card may announce more entries than the list holds: the rest would
  // land on the PLC addresses behind it, so reading stops at the last slot.
  const std::uint32_t announced = (count + 1) / kLinkListEntryWidth;
  const std::uint32_t wanted = std::min<std::uint32_t>(announced, kLinkListEntries);
  const char* p = reply;
  for (std::uint32_t i = 0; i < wanted; ++i) {
    while (IsListBlank(*p)) ++p;
    if (*p == '\0') return LinkListParse::kShort;
    std::uint64_t value = 0;
    int digits = 0;
    for (int digit; digits < kMaxEntryDigits && (digit = HexDigit(*p)) >= 0; ++digits, ++p) {
      value = value * 16 + static_cast<std::uint64_t>(digit);
    }
    // An entry without digits is no address (the text is not a link list);
    // taking it as 0 would hand the compiler a call to address 0.
    if (digits == 0 || value > kLinkEntryLimit) {
      std::fill(entries, entries + kLinkListEntries, 0u);
      return LinkListParse::kRejected;
    }
    entries[i] = static_cast<std::uint32_t>(value);
  }
  return LinkListParse::kComplete;
}

int ReadLinkList(CardCommandPath& path, int device, SharedDeviceBlock& block) {
  if (block.SpranFlag == 1 && CompareFirmwareVersion(block.FirmwareVersion, "1.937", 5) >= 0) {
    block.LinkListValid = 1;
    return 1;
  }
  block.LinkListValid = 0;
  if (CompareFirmwareVersion(block.FirmwareVersion, "1.15", 4) < 0) {
    ClearLinkList(block);
    return 0;
  }
  CommandPathLock lock(path, device);
  char reply[kLinkListReplySize] = {};
  const std::uint32_t word = path.GetResponseEx(device, reply, sizeof reply, "LISTLINK");
  reply[sizeof reply - 1] = '\0';
  const std::uint32_t count = word & kCountMask;
  // A card error or a broken-off answer is no list either.
  if (count == 0 || (word & kErrorBits) != 0) {
    ClearLinkList(block);
    return 0;
  }
  if (ParseLinkList(reply, count, block.LinkList) != LinkListParse::kComplete) return 0;
  block.LinkListValid = 1;
  BackupLinkList(path, device, block);
  return 1;
}

int BackupLinkList(CardCommandPath& path, int device, const SharedDeviceBlock& block) {
  char type[kTypeReplySize] = {};
  const std::uint32_t word = path.GetResponseEx(device, type, sizeof type, "TYPE");
  type[sizeof type - 1] = '\0';
  StripControlChars(type);
  // Without the card's type the section would not say which card the list
  // belongs to.
  if ((word & kErrorBits) != 0 || type[0] == '\0') return 0;

  // The shared field is read with a bound: another process may have left it
  // without a terminator.
  char version[kFirmwareTextSize];
  const std::size_t version_length = strnlen(block.FirmwareVersion, sizeof version - 1);
  std::memcpy(version, block.FirmwareVersion, version_length);
  version[version_length] = '\0';
  char section[kSectionNameSize];
  std::snprintf(section, sizeof section, "%s- %s", version, type);

  char found[16];
  platform::GetPrivateProfileStringA(kLinkListVersionsSection, section, "NADA", found, sizeof found,
                                     kLinkListFile);
  if (std::strstr(found, "NADA") == nullptr) return 1;

  bool written = platform::WritePrivateProfileStringA(kLinkListVersionsSection, section,
                                                      kLinkListRecorded, kLinkListFile) != 0;
  for (std::size_t i = 0; i < kLinkListEntries && written; ++i) {
    char key[16];
    char value[16];
    std::snprintf(key, sizeof key, "Link%zu", i);
    std::snprintf(value, sizeof value, "%u", block.LinkList[i]);
    written = platform::WritePrivateProfileStringA(section, key, value, kLinkListFile) != 0;
  }
  return written ? 1 : 0;
}

int RestoreLinkList(const char* section_name, SharedDeviceBlock& slot) {
  std::uint32_t entries[kLinkListEntries];
  bool complete = section_name != nullptr;
  for (std::size_t i = 0; i < kLinkListEntries && complete; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "Link%zu", i);
    entries[i] =
        platform::GetPrivateProfileIntA(section_name, key, kMissingLinkEntry, kLinkListFile);
    complete = entries[i] <= kLinkEntryLimit;
  }
  if (!complete) {
    slot.LinkListValid = 0;
    ClearLinkList(slot);
    return 0;
  }
  std::copy(std::begin(entries), std::end(entries), std::begin(slot.LinkList));
  // The offline slot has no card to ask, so a "SPRAN2" name stays type 6.
  slot.SpranFlag = 0;
  const std::int32_t type = CardTypeFromName(section_name);
  if (type != 0) slot.CardType = type;
  ApplyGenerationValues(slot, section_name);
  slot.PlccEnabled = 1;
  slot.LinkListValid = 1;
  return 1;
}

}  // namespace zimo::corvan

extern "C" {

std::int32_t BackupLinkList(std::uint32_t device) {
  using namespace zimo::corvan;
  const int index = IndexFromDeviceNumber(device);
  const SharedDeviceBlock* block = App().Block(index);
  if (block == nullptr) return 0;
  return zimo::corvan::BackupLinkList(LibraryCommandPath(), index, *block);
}

std::int32_t RestoreLinkList(const char* section_name) {
  using namespace zimo::corvan;
  SharedDeviceBlock* slot = App().Block(kOfflineSlot);
  if (slot == nullptr) return 0;
  return zimo::corvan::RestoreLinkList(section_name, *slot);
}

}  // extern "C"
