// The error texts of the library's string table, one per code a user may
// see, and the card-error rules shared by the bus and serial channels.
#include <cctype>
#include <cstring>

#include "internal.h"

namespace jux {
namespace {

struct Entry {
  long code;
  const char* text;
};

constexpr Entry kTexts[] = {
    {0, "No errors to report."},
    {50, "ZIMO Error Codes"},
    {51,
     "Command not allowed during motion program execution.  Quit or abort the program "
     "first."},
    {52,
     "Bad or no password.  Enter a valid password before attempting to modify the code.  "
     "(See ZIMO manual for more info)."},
    {53,
     "Syntax error, unrecognized command, or bad program structure (i.e. missing ENDIF or "
     "ENDWHILE)"},
    {54, "Invalid character received (i.e. ASCII value > 128) or serial parity/framing error. "},
    {55, "Command must be an on-line command (see ZIMO manual)."},
    {56, "ZIMO's memory is completely full."},
    {57, "Buffer already in use. An OPEN command was already issued."},
    {58, "Buffer"},
    {59, "Improperly structured program (i.e. missing ENDIF or ENDWHILE)."},
    {60,
     "Both overtravel limits set for a motor in the coordinate system  (see Ix25 or ground "
     "limits on terminal block)."},
    {61, "Previous move not completed.  Issue an ABORTor allow move to complete."},
    {62, "A motor in the coordinate system is open-loop.  Close the loop on the motor with J/."},
    {63,
     "A motor in the coordinate system is not activated.  Set Ix00 to 1 or remove motor from "
     "coordinate system."},
    {64, "No motors in the coordinate system. Define at least 1 motor in the coordinate system."},
    {65,
     "Not pointing to valid program buffer. Use the B command first, or clear out scrambled "
     "buffers."},
    {66, "Running improperly structured program (i.e. missing ENDIF or ENDWHILE)."},
    {67, "Trying to restart program without first doing a J= to go to last position."},
    {1000, "Initialization Errors"},
    {1001, "Out of Memory"},
    {1005, "Bad parameter passed, tagMCardInfo"},
    {1006,
     "No communications established; use simulated communications mode if you are going "
     "to call this function without first establishing communications."},
    {1007, "Max number of cards reached (8)."},
    {1008, "Driver has just been registered,  please reboot."},
    {1009, "Unable to start supporting driver."},
    {1010, "Dual Ported Memory address chosen already in use by another device."},
    {1011, "Bus port address already in use by another device."},
    {2000, "Bus Error Codes"},
    {2001, "Can't find ZIMO (check bus address settings)."},
    {2002, "Bus Receive Timeout (try increasing timeout)."},
    {2003, "No bus communications established  (Try increasing Timeout)"},
    {2004,
     "Bus Send Timeout Error.   Could be a PLC locking out communications.  If so, try "
     "using E51."},
    {3000, "Serial Error Codes"},
    {3001, "Bad port number for initialization (1-16 are valid)."},
    {3002, "Bad baudrate chosen for initialization."},
    {3003,
     "Serial Send Timeout.  Could be a PLC locking out communications.  If so, try using "
     "E51."},
    {3004, "Serial Receive Timeout. Try increasing timeout."},
    {3005, "The hardware detected a break condition."},
    {3006, "The hardware detected a framing error."},
    {3007, "An I/O error occurred during communications with the device."},
    {3008, "A character-buffer overrun has occurred. The next character is lost."},
    {3009, "The hardware detected a parity error."},
    {3010, "The application tried to transmit a character but the output buffer was full."},
    {3011,
     "An input buffer overflow has occurred.  There is either no room in the input buffer, "
     "or a character was received after the end-of-file (EOF) character."},
    {3012,
     "Couldn't find ZIMO board at port or  baudrate specified. Check jumper settings, "
     "cable, timeout."},
    {3013, "CreateFile() API failed.  Communication port may already be in use."},
    {3014, "GetCommState() API failed."},
    {3015, "SetCommState() API failed."},
    {4000, "DPR Error Codes"},
    {4001, "Dual Ported Ram Error"},
    {4002,
     "DPR Send Timeout Error.   Could be a PLC locking out communications.  If so, try "
     "using E51."},
    {4003, "No DPR communications established."},
    {4004, "DPR Receive Timeout (try increasing timeout)."},
    {4005,
     "Intialization error.  Unable to establish communications to DPR.  Check base "
     "address"},
    {5000, "GENERAL Run timer Error"},
    {5001, " String too long (>255).  See GetResponse() "},
    {5002, "Upload Failed"},
    {5003, "Download Failed"},
};

}  // namespace

const char* ErrorText(long code) {
  for (const Entry& e : kTexts) {
    if (e.code == code) return e.text;
  }
  return nullptr;
}

int StoreCardError(tagMCardInfo* record, const char* text, size_t length) {
  // Too short to hold an error number: the call fails without a code.
  if (length < 4) return 0;
  // The final character (the CR after the number) is not part of it.
  const size_t end = length - 1;
  const char* bel = static_cast<const char*>(std::memchr(text, 7, end));
  long code = 53;
  if (bel != nullptr) {
    size_t i = static_cast<size_t>(bel - text);
    while (i < end && !std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    if (i < end) {
      long n = 0;
      while (i < end && std::isdigit(static_cast<unsigned char>(text[i])) && n < 100000) {
        n = n * 10 + (text[i] - '0');
        ++i;
      }
      code = 50 + n;
    }
  }
  SetError(record, code);
  return 0;
}

ResponseEnd TakeResponseChar(char c, char* buffer, size_t* length, bool stop_at_cr) {
  if (c == 24 && *length == 0) return ResponseEnd::kNone;
  buffer[(*length)++] = c;
  if (c == 6) return ResponseEnd::kAck;
  if (stop_at_cr && c == '\r') return ResponseEnd::kCr;
  return ResponseEnd::kNone;
}

void CutResponseEnd(char* text, size_t length, ResponseEnd end, bool stop_at_cr) {
  size_t n = length;
  if (end == ResponseEnd::kAck) {
    --n;
    if (!stop_at_cr && n > 0 && text[n - 1] == '\r') --n;
  } else if (end == ResponseEnd::kCr) {
    --n;
  }
  text[n] = '\0';
}

}  // namespace jux
