// The NC layer's messages: every message id the NC reports (0x4011xxxx
// messages, 0xC010xxxx card and motor errors, 0xC011xxxx language errors)
// with its text, the server's string table, and their formatting with the
// inserts %1 to %6.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace zimo::nc {

// The system's error number for a message id that no table holds.
inline constexpr uint32_t kNcMessageNotFound = 317;

using NcInserts = std::initializer_list<std::string_view>;

// The text of a message id or of a string-table id; null when there is none.
const char* NcMessageText(uint32_t id);
const char* NcStringText(uint32_t id);

// Replaces %1..%6 by the inserts (a missing insert gives nothing) and removes
// trailing white space.
std::string FormatNcText(std::string_view format, const NcInserts& inserts);

// The message of `id`: its message text, else its string-table text, else
// "Message not found. Error: <system_error>l"; formatted as above.
std::string FormatNcMessage(uint32_t id, const NcInserts& inserts = {},
                            uint32_t system_error = kNcMessageNotFound);

}  // namespace zimo::nc
