// The command log of one device in one process: the commands sent and the
// first line of each response, one entry per line ending CR LF, in a file
// of the caller's choosing ("ZimoCLog.log" in the working directory after
// open). Once the file is 100000 bytes long nothing more is appended, until
// logging is turned on afresh, which truncates it.
#pragma once

#include <cstdint>

namespace zimo::corvan {

inline constexpr std::uint32_t kCommandLogLimit = 100000;
// An entry is copied into 300 bytes (command) or built in 256 bytes (";"
// and the reply), so its text is cut to these many characters.
inline constexpr std::uint32_t kCommandEntryMaxText = 297;
inline constexpr std::uint32_t kReplyEntryMaxText = 252;

// Writes one entry when the device's logging flag is on: the text up to its
// first control character, a command entry as it is, a reply entry with ";"
// in front, then CR LF. 1 when written; 0 for an empty text, a full or
// missing file, or logging off.
int LogCommandEntry(int device, const char* text, bool is_command);

// Writes one command entry whatever the flag and the file size; 1 when the
// device number is valid.
int WriteCommandLogAlways(int device, const char* text);

// Switches logging; see ZimoSetCommandLogging.
int SetCommandLogging(int device, bool on, const char* name);

// Closes the device's log file and clears its flag (device close).
void CloseCommandLog(int device);

}  // namespace zimo::corvan
