// Inside the tuning code: the why-not-moving diagnosis and the ring-station
// operations over a given command path (the exports use the library's own
// and read the card type and generation from the device's shared block).
#pragma once

#include <cstdint>

#include "link/variables.h"

namespace zimo::corvan::tuning {

// The motor diagnosis mask of `motor`; `spran_form` picks the newer cards'
// rules (motors 1 to 32), `card_type` the address tables.
std::uint32_t WhyMotorNotMoving(CardCommandPath& path, int device, int card_type, bool spran_form,
                                int motor);
// The coordinate-system diagnosis mask of `system` (1 to 8, newer: 1 to 16).
std::uint32_t WhyCSNotMoving(CardCommandPath& path, int device, bool spran_form, int system);
// The system in which `motor` has an axis (0: none), its definition in
// `out` (at least 256 bytes; may be null).
int GetCoordSysDef(CardCommandPath& path, int device, bool spran, int motor, char* out);
// The text of a mask's lowest finding.
const char* WhyMotorText(std::uint32_t mask, bool spran);
const char* WhyCSText(std::uint32_t mask, bool spran);

// Ring stations ("MSnode,Inumber").
inline constexpr int kVarloNodeTableWords = 194;
std::int32_t StationLong(CardCommandPath& path, int device, std::uint32_t node,
                         std::uint32_t number, std::int32_t default_value);
// The reply text (control characters removed) in `buffer` (40 bytes), or
// `default_text` when the card answers with an error.
const char* StationText(CardCommandPath& path, int device, std::uint32_t node, std::uint32_t number,
                        const char* default_text, char* buffer);
// 1 when the card took the value; 0 on an error answer or no answer.
int SetStationText(CardCommandPath& path, int device, std::uint32_t node, std::uint32_t number,
                   const char* value);
// Saves every station's settings into `file`; 1 done, 0 failed (no file
// then, and I9 as it was).
int UploadRingConfig(CardCommandPath& path, int device, bool spran, void (*progress)(std::int32_t),
                     const char* file);
// Fills `table` (kVarloNodeTableWords words); the number of nodes that
// answered.
int AnalyzeRing(CardCommandPath& path, int device, bool spran, std::int32_t* table);

}  // namespace zimo::corvan::tuning
