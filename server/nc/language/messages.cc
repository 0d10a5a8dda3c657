// The NC message table and the server's string table, compiled in, with the
// formatting of message inserts.
#include "nc/language/messages.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace zimo::nc {

namespace {

struct MessageRow {
  uint32_t id;
  const char* text;
};

// Sorted by id.
constexpr MessageRow kMessages[] = {
    {0x40110001, "Start of Main Program: %1"},
    {0x40110002, "Restart of Main Program: %1"},
    {0x40110003, "Program single cycle start commanded"},
    {0x40110004, "Amplifiers disable commanded"},
    {0x40110005, "Program step hold with restart commanded"},
    {0x40110006, "Program quit commanded"},
    {0x40110007, "Reset function did not occur in time or failed. Check reset program (reset.zko) as functional. "},
    {0x40110008, "M99 - Subroutine %1 return"},
    {0x40110009, "M99 - Subroutine %1, Repeat %2"},
    {0x4011000A, "M98 - Subroutine %1 called"},
    {0x4011000B, "G65 - Subroutine %1 called"},
    {0x4011000C, "End of Main Program: %1"},
    {0x4011000D, "M02 - End of Main Program: %1"},
    {0x4011000E, "M30 - End of Main Program: %1"},
    {0x4011000F, "M99 - End of Main Program: %1"},
    {0x40110010, "M99 is missing from subroutine: %1"},
    {0x40110011, "Program feed hold with restart commanded"},
    {0x40110012, "Program auto cycle start commanded"},
    {0x40110013, "Program feed hold commanded"},
    {0x40110014, "Program abort commanded"},
    {0x40110015, "All axis must be homed before AUTO or MDI operation: Axis(s) %1 are not homed"},
    {0x40110016, "Unable to open %1 file"},
    {0x40110021, "You cannot set the %1 axis offset before homing"},
    {0x40110024, "You have requested to change G54.1P%1 axis %2 from %3 to %4. Do you wish to keep the new offset of %5 %6?"},
    {0x40110025, "You have requested to change G%1 axis %2 from %3 to %4. Do you wish to keep the new offset of %5 %6?"},
    {0x40110026, "You have changed tool %1 %2 from %3 to %4. Do you wish to keep the new value of %5 %6?"},
    {0x40110027, "A program is currently running. You must first stop the program in order to rewind. "},
    {0x40110028, "The program is not stopped. You must first stop the program in order to do this function. "},
    {0xC0100001, "Fatal following error"},
    {0xC0100002, "Warning following error"},
    {0xC0100003, "Servo error"},
    {0xC0100004, "ZIMO calculation re-entry occured"},
    {0xC0100005, "ZIMO memory checksum is incorrect or not initialized"},
    {0xC0100006, "ZIMO prom checksum is incorrect or not initialized"},
    {0xC0100007, "ZIMO runtime error"},
    {0xC0100008, "Circle radius error"},
    {0xC0100009, "Amplifier fault error"},
    {0xC010000A, "Motor not enabled"},
    {0xC010000B, "Motor warning following error"},
    {0xC010000C, "Motor fatal following error"},
    {0xC010000D, "Motor not home referenced"},
    {0xC010000E, "Motor on limit"},
    {0xC010000F, "Motor on negative end of travel limit"},
    {0xC0100010, "Motor on positive end of travel limit"},
    {0xC0100011, "Motor open loop"},
    {0xC0100012, "Motor amplifier fault"},
    {0xC0100013, "Motor amplifier not enabled"},
    {0xC0100014, "Motor data block error"},
    {0xC0100015, "Motor not phased"},
    {0xC0100016, "I2T Error"},
    {0xC0100017, "Motor integrated following error"},
    {0xC0100018, "VARLO auxiliary communication error"},
    {0xC0100019, "VARLO ring check error"},
    {0xC011002B, "Unable to open M code alias file: %1"},
    {0xC011002C, "Unable to open G65 subroutine file: %1"},
    {0xC011002D, "Unable to open M98 subroutine file: %1"},
    {0xC011002E, "G65 subroutine call with no file name"},
    {0xC011002F, "M98 subroutine call with no file name"},
    {0xC0110030, "Division by zero"},
    {0xC0110031, "Root of negative number"},
    {0xC0110032, "Matching END not found"},
    {0xC0110033, "Block specified in branch, not found"},
    {0xC0110034, "DO loop already being used"},
    {0xC0110035, "Invalid DO END loop number"},
    {0xC0110036, "No matching DO loop prior to this block"},
    {0xC0110037, "Multiple codes specified in block"},
    {0xC0110038, "Feature not implemented"},
    {0xC0110039, "Illegal variable reference"},
    {0xC011003A, "Term expected"},
    {0xC011003B, "Value stack error"},
    {0xC011003C, "Operator expected"},
    {0xC011003D, "Illegal variable"},
    {0xC011003E, "Invalid variable assignment"},
    {0xC011003F, "Unbalanced parenthesis"},
    {0xC0110040, "String conversion to double, overflow"},
    {0xC0110041, "String conversion to double, too many digits"},
    {0xC0110042, "Only one assignment per block permitted"},
    {0xC0110043, "Assignment must be first term in expression"},
    {0xC0110044, "Zimo communications error: #506x"},
    {0xC0110045, "Operand stack errors"},
    {0xC0110046, "Maximum G code line exceeded"},
    {0xC0110047, "Arguments preceed parametric programming syntax"},
    {0xC0110048, "Arguments preceed G65"},
    {0xC011004A, "Operand stack underflow"},
    {0xC011004B, "Illegal function parameter"},
    {0xC011004C, "Illegal macro variable reference"},
    {0xC011004E, "Address code value not found or is invalid"},
    {0xC0110056, "%1 code is required"},
    {0xC0110057, "%1 code is invalid"},
    {0xC0110058, "Intersecting DO loops detected"},
    {0xC011005A, "Missing parameter for on repetitive cycle, correct usage is G71/G72 P_ Q_ U W_ [F_ S_ T_]"},
    {0xC011005B, "Memory error could not allocate memory for G71,G72 or G73"},
    {0xC011005C, "Neither U or W can be 0 on G71/G72 P_ Q_ U_ W_ line"},
    {0xC011005D, "Invalid cut depth  or escape value, neither U_ W_ or R_ can be 0 on G71 U_ R_ or G72 W_ R line"},
    {0xC011005E, "N label matching Q label found before N label matching P, check P_ Q_ on G7x P_ Q_ line and the N labels following the command"},
    {0xC011005F, "No I, K or R command found on G2/G3 block"},
    {0xC0110060, "Invalid I or K value on G2/G3 line"},
    {0xC0110061, "Invalid R value on G2/G3 line"},
    {0xC0110062, "Pattern in P-Q sequence is non monontonic or ( U_ and  W_) signs are incorrect"},
    {0xC0110063, "At least two finish blocks must be specified in the P-Q sequence"},
    {0xC0110064, "No P-Q intersection found"},
    {0xC0110065, "Both P and Q must be specified for G70 finish block"},
    {0xC0110066, "The P-Q sequence for G70 was not found in memory, you must have used the P-Q blocks in a G71,G72 or G73 previously"},
    {0xC0110067, "Program/MDI buffer is empty"},
    {0xC0110068, "G45-G48 (tool offset) must not be used in the G41 or G42 (cutter compensation) mode."},
};

constexpr MessageRow kStrings[] = {
    {23, "Send Response"},
    {24, "CMD Response"},
    {5007, "RS274 Files (*.NC)|*.nc|All Files (*.*)|*.*|"},
    {6014, "A search is only possible in the main or MDI program, not in a called program"},
    {9101, "Unknown error supplied by application"},
};

const char* Find(const MessageRow* begin, const MessageRow* end, uint32_t id) {
  const MessageRow* row =
      std::lower_bound(begin, end, id, [](const MessageRow& r, uint32_t v) { return r.id < v; });
  return row != end && row->id == id ? row->text : nullptr;
}

}  // namespace

const char* NcMessageText(uint32_t id) {
  return Find(std::begin(kMessages), std::end(kMessages), id);
}

const char* NcStringText(uint32_t id) { return Find(std::begin(kStrings), std::end(kStrings), id); }

std::string FormatNcText(std::string_view format, const NcInserts& inserts) {
  std::string out;
  out.reserve(format.size() + 32);
  for (std::size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (c == '%' && i + 1 < format.size() && format[i + 1] >= '1' && format[i + 1] <= '6') {
      const std::size_t n = static_cast<std::size_t>(format[i + 1] - '1');
      if (n < inserts.size()) out.append(inserts.begin()[n]);
      ++i;
      continue;
    }
    out.push_back(c);
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '\t' || out.back() == '\r' ||
                          out.back() == '\n')) {
    out.pop_back();
  }
  return out;
}

std::string FormatNcMessage(uint32_t id, const NcInserts& inserts, uint32_t system_error) {
  if (const char* text = NcMessageText(id)) return FormatNcText(text, inserts);
  if (const char* text = NcStringText(id)) return FormatNcText(text, inserts);
  // The fallback keeps the wording users have seen: "%u" followed by "l".
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "Message not found. Error: %ul", system_error);
  return FormatNcText(buffer, {});
}

}  // namespace zimo::nc
