// The firmware link list: the addresses of firmware routines that the PLC
// compiler calls, read from the card ("LISTLINK") at first open, and kept
// per card type and firmware version in the link list file so that a list
// can be restored into the offline slot 8 and programs compiled without a
// card.
//
// Link list file "ZIMO_LINKLIST.INI" (a private profile file in the Windows
// directory):
//   [VERSIONS]            "<version>- <type reply>" = EXISTS, one per card
//   [<version>- <type reply>]
//   Link0=<decimal> .. Link67=<decimal>
#pragma once

#include <cstddef>
#include <cstdint>

#include "corvan/internal/shared_table.h"
#include "link/variables.h"

namespace zimo::corvan {

inline constexpr char kLinkListFile[] = "ZIMO_LINKLIST.INI";
inline constexpr char kLinkListVersionsSection[] = "VERSIONS";
inline constexpr char kLinkListRecorded[] = "EXISTS";
// Every entry is a firmware address below 0x10000; a missing key reads as
// this, which no entry can hold.
inline constexpr std::uint32_t kLinkEntryLimit = 0xFFFF;
inline constexpr std::uint32_t kMissingLinkEntry = 0x10000;

// Reply buffer of "LISTLINK" (characters + terminator).
inline constexpr std::uint32_t kLinkListReplySize = 545;
// Each entry on the card's list is six hexadecimal digits and a separator.
inline constexpr std::uint32_t kLinkListEntryWidth = 7;

// Compares the first `length` characters of a firmware version text with
// `reference` as text, the way firmware versions order ("1.16F" above
// "1.15"). A text that does not start with a digit ("N/A" from a card that
// gave no version, or nothing at all) is no version and compares below
// every reference. <0, 0, >0.
int CompareFirmwareVersion(const char* version, const char* reference, std::size_t length);

// How a "LISTLINK" reply parsed.
enum class LinkListParse {
  kComplete,  // every announced entry read (at most the 68 the list holds)
  kShort,     // the text ended early; the entries read so far are stored
  kRejected,  // an entry above 0xFFFF or one without digits: all 68 cleared
};

// Parses `count` characters of a "LISTLINK" reply into `entries` (68):
// (count + 1) / 7 entries, at most 68; each after LF, CR, TAB and blanks is
// up to 13 upper-case hexadecimal digits.
LinkListParse ParseLinkList(const char* reply, std::uint32_t count,
                            std::uint32_t entries[kLinkListEntries]);

// Reads the device's link list into its block and returns 1 when the PLC
// compiler can use it (stored by the caller as the PLC compilation flag):
// SPRAN firmware from 1.937 on needs no list (valid, nothing read); below
// 1.15 (or with no version) there is none (cleared, 0); otherwise the list
// is asked for, parsed and, when complete, recorded in the link list file.
int ReadLinkList(CardCommandPath& path, int device, SharedDeviceBlock& block);

// Records the block's link list in the link list file under its firmware
// version and the card's "TYPE" reply, unless recorded already. 1 when the
// list is recorded on return; 0 when the card gave no type reply or the
// file could not be written.
int BackupLinkList(CardCommandPath& path, int device, const SharedDeviceBlock& block);

// Fills `slot` (the offline slot 8) from section `section_name` of the link
// list file: the 68 entries, then the card type the name stands for (the
// type is kept when the name has none) and the values that follow from it,
// the PLC compilation and list valid flags. 0, with the slot's entries and
// valid flag cleared, when an entry is missing or above 0xFFFF.
int RestoreLinkList(const char* section_name, SharedDeviceBlock& slot);

}  // namespace zimo::corvan
