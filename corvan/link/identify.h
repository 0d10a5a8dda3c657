// Card identification. The first opener of a device asks the card once and
// keeps the answers in the shared block, where every process and the rest
// of the library read them: card type and SPRAN flag, processor, motor and
// variable counts, PLC memory addresses, firmware version and date, servo
// timing and per-motor scale factors. Also the bootstrap-mode query.
//
// Device open calls, in this order: DetectCardType, SetCardCounts,
// ReadFirmwareVersion, ReadFirmwareDate, ReadLinkList (link_list.h; its
// result is the PLC compilation flag) and ComputeServoTiming. All card
// exchanges go through a CardCommandPath (the command API in the library).
#pragma once

#include <cstdint>
#include <string_view>

#include "corvan/internal/shared_table.h"
#include "link/variables.h"

namespace zimo::corvan {

// Card type codes. 4 and above are SPRAN cards (4 itself is never found).
inline constexpr std::int32_t kCardZimo1 = 1;
inline constexpr std::int32_t kCardZimo2 = 2;
inline constexpr std::int32_t kCardZimoU = 3;
inline constexpr std::int32_t kCardFirstSpran = 4;
inline constexpr std::int32_t kCardSpran1 = 5;
inline constexpr std::int32_t kCardSpran2 = 6;
inline constexpr std::int32_t kCardSpranU = 7;
inline constexpr std::int32_t kCardSpran2Type8 = 8;
inline constexpr std::int32_t kCardSpran2Type9 = 9;

// Stored when the card gives no firmware version or date.
inline constexpr char kNoFirmwareText[] = "N/A";

// Default servo interrupt time (I10) and the default I-variable value of
// motors' Ixx08 and Ixx09 when the card does not answer.
inline constexpr std::int32_t kDefaultIxx0809 = 96;
// Ixx08 and Ixx09 count only below this value (the firmware's own limit).
inline constexpr std::int32_t kScaleVariableLimit = 8338608;
// 8388608 x 60000: counts per servo cycle in units of 1/8388608 ms to counts
// per minute.
inline constexpr double kVelocityScaleNumerator = 503316480000.0;

// Treats `text` as a hex number and returns its bit n, counting from the
// rightmost digit (digit index strlen - n/4 - 1, bit n mod 4 within it).
// Yields 0 if n < 0, n lies past the leftmost digit, or the digit is not hex.
int HexTextBit(const char* text, int n);

// The card type a name in a "TYPE" reply (or a link-list section name)
// stands for, tested in the order "ZIMO1", "ZIMO2", "ZIMOU", "SPRAN1",
// "SPRAN2" (6; the further tests that can make it 8 or 9 need the card),
// "SPRANU"; 0 when none is in the text.
std::int32_t CardTypeFromName(std::string_view text);

// Writes the values that follow from the block's CardType: the SPRAN flag,
// the motor and variable counts, the PLC table base, chain end, code start
// and slot table, and on older cards the board variant from `type_text`
// (2 with "ESA", 3 with "LHB", else 1).
void ApplyGenerationValues(SharedDeviceBlock& block, std::string_view type_text);

// Motor and variable counts from the block's SPRAN flag.
void SetCardCounts(SharedDeviceBlock& block);

// Asks "CPU", "TYPE" and, as the type needs, "???", "I4900" or "I182"
// (with I9 set to 2 for the question and back afterwards), and writes the
// card type, processor model and generation values. Holds the device lock
// throughout, so no other process changes I9 in between. Returns 1.
int DetectCardType(CardCommandPath& path, int device, SharedDeviceBlock& block);

// "VERSION" and "DATE": the reply's first 19 characters without control
// characters, or "N/A" when the card gave none (no answer, an empty one, an
// error or a time-out). True when a reply came.
bool ReadFirmwareVersion(CardCommandPath& path, int device, SharedDeviceBlock& block);
bool ReadFirmwareDate(CardCommandPath& path, int device, SharedDeviceBlock& block);

// Reads I10 and every motor's Ixx08 and Ixx09 and writes ServoI10 and the
// position and velocity scale factors of the block's motors. Returns 1.
int ComputeServoTiming(CardCommandPath& path, int device, SharedDeviceBlock& block);

// Sends "?" and raises the block's bootstrap flag if the reply contains
// "BOOTSTRAP" (a USB or Ethernet card in that mode first sends a line feed,
// then the word on its own line). Returns the flag.
int QueryBootstrapMode(CardCommandPath& path, int device, SharedDeviceBlock& block);

// The first opener's set-up of the card fields, in the order device open
// runs it: type, counts, firmware version and date, link list (its result
// becomes PlccEnabled) and servo timing. The one-argument form runs it over
// the command API on the device's shared block (nothing happens when the
// table is not mapped).
void RunFirstOpenIdentification(CardCommandPath& path, int device, SharedDeviceBlock& block);
void RunFirstOpenIdentification(int device);

// True when the device is open in this process (it has a transport here):
// only then may the exports ask the card and overwrite what the shared
// block holds for every process.
bool IsOpenInProcess(int device);

// Bootstrap flag as recorded by the latest open or query; 0 if the table is
// not mapped or the device number is invalid.
std::uint32_t GetBootstrapFlag(int device);

// ZimoGetZimoType and ZimoInBootStrapMode for the library's own callers, by
// slot index: the card type (asked again when the device is open here), and
// 1 when the card is in bootstrap mode.
std::int32_t CardTypeOf(int index);
int InBootstrapMode(int index);

}  // namespace zimo::corvan
