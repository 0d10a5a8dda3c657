// Serial transport: text commands to a card over a serial port, used for
// devices registered with Location 2. The exports of the ZimoSER family
// (corvan/serial_api.h) are thin wrappers over these operations; the
// dispatcher reaches them through SerialChannel().
//
// The port is opened once per process and (Location, Enumeration) and shared
// between processes: the first opener's process id and descriptor are kept
// in the device's shared block, and later openers duplicate that
// descriptor. Every exchange holds the device lock, so across all processes
// only one exchange uses the port at any moment. A read takes all the port
// holds; what is not handed out yet stays in the device's shared block
// (SerialAhead) and is the next reader's, in whichever process.
#pragma once

#include <cstdint>

#include "corvan/internal/shared_table.h"
#include "link/ascii_channel.h"
#include "platform/serial_port.h"

namespace zimo::corvan {

struct LocationHandle;

// Serial last-error codes (texts in the library's table).
inline constexpr std::uint32_t kSerErrLineFull = 28;
inline constexpr std::uint32_t kSerErrCharNotWritten = 81;
inline constexpr std::uint32_t kSerErrUnexpectedAck = 82;
inline constexpr std::uint32_t kSerErrTimeout = 1008;
inline constexpr std::uint32_t kSerErrNotOpen = 1011;

// A command line is copied with its CR into 300 bytes.
inline constexpr std::size_t kSerLineBufferSize = 300;
inline constexpr std::size_t kSerMaxLineText = kSerLineBufferSize - 2;

// The text that restores the card's serial protocol after a time-out.
inline constexpr char kSerialRestoreLine[] = "I3=2 I6=1";

// Opens the port of `device` into `handle.serial`: a copy of the owner's
// descriptor when another process holds the port, else the port
// "\\.\COM<Enumeration>" itself (this process becomes the owner). A copy
// that cannot be had, or that is not the port any more (its owner has gone
// or closed it), is replaced by opening the port anew, and this process
// becomes the owner. Counts the process in TransportUserCount. On failure
// returns the system error code (nonzero) and changes no shared field.
std::uint32_t SerOpen(int device, LocationHandle& handle);
// Closes this process's port and gives up its place in TransportUserCount;
// the owner fields are cleared when the count reaches 0.
void SerClose(int device, LocationHandle& handle);

// The device's open port in this process, or null.
platform::SerialPort* SerialPortOf(int device);

// Reads the port's error flags and queue counts into the arguments (either
// may be null); 1 when no error flag is set, else 0 with a debug line.
int SerReportCommError(int device, std::uint32_t* errors, platform::ComStat* stat);

// One character within SerCharTimeout: 1 with *c set; 0xC0000000 after the
// time-out; 0xF0000000 when the port is not open.
std::uint32_t SerReadCharTimed(int device, char* c);

// The operations behind the exports (A forms).
std::uint32_t SerSendChar(int device, char c);
std::uint32_t SerSendLine(int device, const char* text);
std::uint32_t SerReadReady(int device);
void SerFlush(int device);
// The start of an exchange: a flush, or, after an exchange that timed out or
// failed, clearing the card's output and the line (Ctrl-X, everything up to
// its echo, then until the line is quiet), so that an answer that comes late
// is never read as the answer to a later command.
void SerBeginExchange(int device);
void SerSendCommand(int device, const char* text);
std::uint32_t SerGetLine(int device, char* buffer, std::uint32_t max, std::uint32_t* count);
std::uint32_t SerGetBuffer(int device, char* buffer, std::uint32_t max, std::uint32_t* count);
std::uint32_t SerGetResponse(int device, char* buffer, std::uint32_t max, const char* command);
std::uint32_t SerGetControlResponse(int device, char* buffer, std::uint32_t max, char c);

AsciiChannel& SerialChannel();

}  // namespace zimo::corvan
