// The server's own build of the communications library: the library's
// operations are the linked library's (one device table, the process's
// device records and locks); this adds what only the server has: the
// printf-style senders, the parsed control-character values, the buffered
// response, the firmware kind, the count of configured devices and the
// download error limit the device object reads and writes.
#pragma once

#include <cstdint>
#include <string>

namespace zimo::server {

// The longest command line a printf-style sender builds.
inline constexpr int kMaxCommandLength = 255;

// The control characters whose replies carry one value per motor.
inline constexpr char kCtrlPositions = 0x10;   // ^P
inline constexpr char kCtrlVelocities = 0x16;  // ^V
inline constexpr char kCtrlFollowing = 0x06;   // ^F
inline constexpr int kControlValueCount = 8;

class CommLibrary {
 public:
  // Formats the command and sends it as one line, reading and dropping the
  // reply. A command over kMaxCommandLength characters is refused whole:
  // nothing is sent, 0.
  static int32_t SendCommand(uint32_t device, const char* format, ...)
      __attribute__((format(printf, 2, 3)));
  // Formats the command, sends it and collects the reply into `buffer`;
  // the whole result word. A command over kMaxCommandLength characters is
  // refused (0xF0000000, nothing sent, the buffer empty).
  static uint32_t GetResponse(uint32_t device, char* buffer, uint32_t size, const char* format, ...)
      __attribute__((format(printf, 4, 5)));

  // ^P, ^V or ^F: the reply's 8 numbers into `values` and 1; any other
  // value, or a reply with error bits: 0, nothing sent for the former,
  // `values` untouched. The value is taken whole: 0x110 is not ^P.
  static int32_t GetControlValues(uint32_t device, int32_t control,
                                  double values[kControlValueCount]);
  // Sends `question` under the device lock (after a flush) and joins the
  // reply's lines, cleaned of white space and ACKs outside quotes, each
  // followed by a line feed when `add_lf`. The result word of the last line
  // read; `any_line` false when no line came.
  static uint32_t GetResponseBuffered(uint32_t device, const char* question, bool add_lf,
                                      std::string* answer, bool* any_line);
  // The reading half of it, under the device lock the caller holds: lines
  // until the end of the response or an error status; the last word.
  static uint32_t CollectLines(uint32_t device, bool add_lf, std::string* answer, bool* any_line);
  // Identifies the card again and gives the firmware kind it stores
  // (1 plain, 2 "ESA", 3 "LHB"); 0 when the device is not reachable.
  static int32_t GetFirmwareType(uint32_t device);

  static int32_t max_download_errors();
  static void set_max_download_errors(int32_t count);
};

}  // namespace zimo::server
