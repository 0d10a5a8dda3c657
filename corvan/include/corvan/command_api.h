// Corvan32's text-command interface to a card: write a character or a line,
// read one line or everything pending, run a command (or control character)
// and collect the full reply, flush, poll for pending output, query errors.
// Every function takes the device's command lock ("MutexZimo%d") for its
// whole run and picks the transport from the device's Location.
//
// Card framing: a command is a line of printable ASCII; the transport adds
// CR. The card answers with lines ended by CR (the CR stays in the text) and
// ends the response with ACK (not stored). A card error is BEL "ERRnnn"; a
// line starting with STX is an unsolicited message, which goes to the
// device's unsolicited-message ring instead of the caller's buffer.
//
// Results of the line functions are a CommStatusWord: the count of
// characters stored in bits 0 to 27, the status in bits 28 to 31 (constants
// below). Ex variants hand back the full word; the others just the count.
//
// Buffers: `size` is the size of the caller's buffer in characters. At most
// size - 1 characters are stored and the text is always terminated; a null
// buffer or a size of 0 is refused without touching anything. Device numbers
// outside 0 to 7 are refused like a device that is not open.
//
// A forms take Windows-1252 text, W forms UTF-16 (char16_t); a W form
// converts and calls its A form.
#pragma once

#include <stdint.h>
#ifdef __cplusplus
#include <cstdint>  // std:: names for C++ includers
#else
#include <uchar.h>
#endif

#ifdef __cplusplus
namespace zimo::corvan {

// Status nibbles of a CommStatusWord.
inline constexpr uint32_t kStatusLine = 0x00000000;         // a CR-ended line; more may follow
inline constexpr uint32_t kStatusUnsolicited = 0x10000000;  // stored in the ring instead
inline constexpr uint32_t kStatusAck = 0x80000000;          // the response is complete
inline constexpr uint32_t kStatusTimeout = 0xC0000000;
inline constexpr uint32_t kStatusBadAck = 0xD0000000;  // checksummed serial mode
inline constexpr uint32_t kStatusCardError = 0xE0000000;
inline constexpr uint32_t kStatusFailure = 0xF0000000;
inline constexpr uint32_t kStatusMask = 0xF0000000;
inline constexpr uint32_t kCountMask = 0x0FFFFFFF;
// Any of time-out, card error, failure.
inline constexpr uint32_t kErrorBits = 0x70000000;

// What LockZimo returns.
inline constexpr uint32_t kWaitObject0 = 0;
inline constexpr uint32_t kWaitAbandoned = 0x80;
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFF;

// The text that brings the card's communication variables to a known state.
inline constexpr char kCriticalIVars[] = "I3=2I6=1I63=1I64=1";

}  // namespace zimo::corvan
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Per-device lock (recursive). LockZimo blocks until it gets the lock and
// returns 0, or 0x80 if the former holder died with it held (the caller now
// owns it). If this process has not opened the device it does nothing and
// returns 0. ReleaseZimo: nonzero if the lock was let go; 0 if there is no
// lock for the device in this process or the caller is not its owner.
uint32_t LockZimo(uint32_t device);
int32_t ReleaseZimo(uint32_t device);

// 1 if this process can reach the card's dual-ported RAM; 0 if the device
// has not been opened in this process.
int32_t ZimoGetDpramAvailable(uint32_t device);

uint32_t ZimoSendCharA(uint32_t device, char character);
uint32_t ZimoSendCharW(uint32_t device, char16_t character);
uint32_t ZimoSendLineA(uint32_t device, const char* text);
uint32_t ZimoSendLineW(uint32_t device, const char16_t* text);

uint32_t ZimoGetLineA(uint32_t device, char* buffer, uint32_t size);
uint32_t ZimoGetLineW(uint32_t device, char16_t* buffer, uint32_t size);
uint32_t ZimoGetLineExA(uint32_t device, char* buffer, uint32_t size);
uint32_t ZimoGetLineExW(uint32_t device, char16_t* buffer, uint32_t size);
uint32_t ZimoGetBufferA(uint32_t device, char* buffer, uint32_t size);
uint32_t ZimoGetBufferW(uint32_t device, char16_t* buffer, uint32_t size);

uint32_t ZimoGetControlResponseExA(uint32_t device, char* buffer, uint32_t size, char character);
uint32_t ZimoGetControlResponseExW(uint32_t device, char16_t* buffer, uint32_t size,
                                   char16_t character);
uint32_t ZimoGetControlResponseA(uint32_t device, char* buffer, uint32_t size, char character);
uint32_t ZimoGetControlResponseW(uint32_t device, char16_t* buffer, uint32_t size,
                                 char16_t character);

uint32_t ZimoGetResponseExA(uint32_t device, char* buffer, uint32_t size, const char* command);
uint32_t ZimoGetResponseExW(uint32_t device, char16_t* buffer, uint32_t size,
                            const char16_t* command);
uint32_t ZimoGetResponseA(uint32_t device, char* buffer, uint32_t size, const char* command);
uint32_t ZimoGetResponseW(uint32_t device, char16_t* buffer, uint32_t size,
                          const char16_t* command);

// Exchanges the command for its response (at most 255 characters, dropped).
// Nonzero after a clean exchange; 0 when the device is not open here or the
// exchange reported a time-out, card error or failure.
int32_t ZimoSendCommandA(uint32_t device, const char* command);
int32_t ZimoSendCommandW(uint32_t device, const char16_t* command);

// Nonzero when the card has output waiting.
uint32_t ZimoReadReady(uint32_t device);
// Discards pending card output. Nonzero when done; 0 when the device is not
// open here.
int32_t ZimoFlush(uint32_t device);
// Serial devices: switches checksummed communication; 0 when it cannot be
// switched (other Locations, or checksummed mode is not available).
int32_t ZimoDoChecksums(uint32_t device, int32_t on);

// 1 when a motion program buffer (rotary buffer) is open for editing: from
// the host copy of the card's global words when the DPR is usable from this
// process, else from the card's global status (control character 7).
int32_t ZimoMotionBufOpen(uint32_t device);
int32_t ZimoRotBufOpen(uint32_t device);
// Sends "I3=2I6=1I63=1I64=1" and records it in the change ring; 1.
int32_t ZimoSetCriticalIVars(uint32_t device);

// The transport's last error code (0 for none); its text, when above 0, is
// kept as the device's last error text.
int32_t ZimoGetError(uint32_t device);
// The code as ZimoGetError; when above 0 the last error text is copied into
// the buffer (at most size - 1 characters, terminated). The buffer is left
// alone when there is no error.
int32_t ZimoGetErrorStrA(uint32_t device, char* buffer, uint32_t size);
// As A, into 16-bit text; -3 when the text cannot be converted.
int32_t ZimoGetErrorStrW(uint32_t device, char16_t* buffer, uint32_t size);

// The command log: every exchange (command, then ";" and the first response
// line) while logging is on, into "ZimoCLog.log" in the working directory or
// the name given. A name of more than 259 characters is refused (0) and
// nothing changes; otherwise 1.
int32_t ZimoSetCommandLogging(uint32_t device, int32_t on, const char* name);
int32_t ZimoGetCommandLogging(uint32_t device);
// Writes one entry (the text up to its first control character) whatever
// the flag and the file size; 1 (0 when the device number is out of range).
int32_t ZimoCommandLog(uint32_t device, const char* text);

#ifdef __cplusplus
}  // extern "C"
#endif
