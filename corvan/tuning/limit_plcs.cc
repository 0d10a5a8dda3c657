// The watchdog and phasing programs written around the motor set-up tests:
// position- and velocity-limit watchdogs, rough phasing started at once,
// and a fine-phasing program written to a file for later download.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "corvan/command_api.h"
#include "corvan/tuning_api.h"
#include "tuning/tuning.h"

namespace zimo::corvan::tuning {
namespace {

constexpr char kQuote = '"';

// These programs address the older card map, motors 1 to 8.
bool ValidMotor(int motor) { return motor >= 1 && motor <= 8; }

unsigned MotorAddress(unsigned base, unsigned step, int motor) {
  return base + step * static_cast<unsigned>(motor - 1);
}

// The file's lines end in CR LF, as the card's download tools expect.
class PlcFile {
 public:
  explicit PlcFile(const char* path) : file_(std::fopen(path, "wb")) {}
  ~PlcFile() {
    if (file_ != nullptr) std::fclose(file_);
  }
  bool open() const { return file_ != nullptr; }

  void Put(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    char text[512];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) {
      failed_ = true;
      return;
    }
    for (const char* c = text; *c != '\0'; ++c) {
      if (*c == '\n' && std::fputc('\r', file_) == EOF) failed_ = true;
      if (std::fputc(*c, file_) == EOF) failed_ = true;
    }
  }
  // Closes the file; false when anything could not be written.
  bool Close() {
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return closed && !failed_;
  }

 private:
  std::FILE* file_;
  bool failed_ = false;
};

// A reply that is a whole number (after white space was stripped).
bool ParseWhole(const char* reply, long* value) {
  if (reply == nullptr || reply[0] == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(reply, &end, 10);
  if (end == reply || errno != 0) return false;
  if (*end != '\0' && *end != '\r' && *end != '\n') return false;
  *value = v;
  return true;
}

}  // namespace

int DownloadPosLimitPLC(CardCommandPath& path, int device, int motor) {
  if (!ValidMotor(motor)) return 0;
  const unsigned flags = MotorAddress(0x3D, 0x3C, motor);
  ProgramWriter w(path, device);
  w.Line("M1000->X:$%x,21,1", flags);
  w.Line("M1001->X:$%x,22,1", flags);
  w.Line("OPEN PLC 30 CLR");
  w.Line("IF(M1000=1 OR M1001=1)");
  w.Line("CMD%c#%dK%c", kQuote, motor, kQuote);
  w.Line("DIS PLC 30");
  w.Line("ENDIF");
  w.Line("CLS");
  return w.ok() ? 1 : 0;
}

int DownloadVelLimitPLC(CardCommandPath& path, int device, int motor, std::int32_t speed) {
  if (!ValidMotor(motor)) return 0;
  ProgramWriter w(path, device);
  w.Line("M166->X:$%x,24,1", MotorAddress(0x3C, 0x33, motor));
  w.Line("OPEN PLC 32 CLR");
  // The card reads a number without '$' as decimal.
  w.Line("IF(M166 > $%x)", static_cast<unsigned>(speed));
  w.Line("CMD%c#%dK%c", kQuote, motor, kQuote);
  w.Line("ENDIF");
  w.Line("CLS");
  // Only a complete program is started.
  w.Line("ENA PLC 32");
  return w.ok() ? 1 : 0;
}

int DownloadAndRunRoughPhasePLC(CardCommandPath& path, int device, int motor) {
  if (!ValidMotor(motor)) return 0;
  const int n = motor;
  ProgramWriter w(path, device);
  w.Line("DELETE GATHER");
  w.Line("DELETE TRACE");
  w.Line("OPEN PLC 31 CLEAR");
  w.Line("CMD%c#%do0%c", kQuote, n, kQuote);
  w.Line("P%d29=I%d29", n, n);
  w.Line("P%d79=I%d79", n, n);
  w.Line("IF (I%d72 > 128)", n);
  w.Line("  I%d29=3000", n);
  w.Line("  I%d79=-3000", n);
  w.Line("ELSE");
  w.Line("  I%d29=-3000", n);
  w.Line("  I%d79=3000", n);
  w.Line("ENDIF");
  w.Line("P1=0");
  w.Line("WHILE (P1 < 5000)   ; do a delay");
  w.Line("  P1=P1+1");
  w.Line("ENDWHILE");
  w.Line("I%d29=P%d29", n, n);
  w.Line("P1=0");
  w.Line("WHILE (P1 < 5000)");
  w.Line("  P1=P1+1");
  w.Line("ENDWHILE");
  w.Line("M%d71=0", n);
  w.Line("I%d79=P%d79", n, n);
  w.Line("DISABLE PLC 31");
  w.Line("P998=10");
  w.Line("CLS");
  w.Line("P998=0");
  w.Line("I5=2 ENA PLC 31");
  return w.ok() ? 1 : 0;
}

int CreateIncrementalFinePhasePLC(CardCommandPath& path, int device, const char* file, int plc,
                                  int motor) {
  if (file == nullptr || !ValidMotor(motor)) return 0;
  const int n = motor;
  PlcFile out(file);
  if (!out.open()) return 0;

  // The program drops this value back into the phase register: one that
  // could not be read must not become 0 there.
  ProgramWriter w(path, device);
  long phase = 0;
  if (!w.Line("M%d71", n) || (w.status() & kStatusMask) != kStatusAck ||
      !ParseWhole(w.reply(), &phase)) {
    out.Close();
    std::remove(file);
    return 0;
  }

  out.Put(";  ****** Fine Phasing PLC Program for Motor #%d *****\n\n", n);
  out.Put(";  NOTICE:  This PLC program should only be used AFTER Zimo2 has been\n");
  out.Put(";           powered up AND AFTER YOUR AMPLIFIERS have are powered up.\n");
  out.Put(";           Not observing this precaution could result in damage to\n");
  out.Put(";           your motors and/or amplifiers!  It is recommended that you\n");
  out.Put(";           run this PLC program upon confirmed request from the user.\n\n");
  out.Put(
      "I5 = 0    ; this is a precaution so that this PLC does not run instantly after "
      "reset\n");
  out.Put("M%d71->X:$%x,0,24,S    ; phase position register \n", n, MotorAddress(0x40, 0x3C, n));
  out.Put("M%d45->Y:$%x,10,1      ; home complete bit\n", n, MotorAddress(0x814, 0xC0, n));
  out.Put("M%d33->X:$%x,13,1\t\t; desired velocity zero bit \n", n, MotorAddress(0x3D, 0x3C, n));
  out.Put("DELETE GATHER\n");
  out.Put("DELETE TRACE\n\n");
  out.Put("OPEN PLC %d CLEAR\n", plc);
  out.Put("M%d45=0              ; now fine phasing\n", n);
  out.Put("CMD%c#%dhm%c\t\t\t; tell motor to home\n", kQuote, n, kQuote);
  out.Put("WHILE (M%d45 = 0)   ; wait for home to finish\n", n);
  out.Put("ENDWHILE\n");
  out.Put("WHILE (M%d33 = 1)   ; wait for motor to stop moving\n", n);
  out.Put("ENDWHILE\n");
  out.Put("M%d71=%ld           ; drop in the phase register value\n", n, phase);
  out.Put("DISABLE PLC %d\n", plc);
  out.Put("CLOSE\n");
  if (!out.Close()) {
    std::remove(file);
    return 0;
  }
  return 1;
}

}  // namespace zimo::corvan::tuning

extern "C" {

std::int32_t DownloadPosLimitPLC(std::uint32_t device, std::int16_t motor) {
  return zimo::corvan::tuning::DownloadPosLimitPLC(
      zimo::corvan::LibraryCommandPath(), zimo::corvan::IndexFromDeviceNumber(device), motor);
}

std::int32_t DownloadVelLimitPLC(std::uint32_t device, std::int16_t motor, std::int32_t speed) {
  return zimo::corvan::tuning::DownloadVelLimitPLC(zimo::corvan::LibraryCommandPath(),
                                                   zimo::corvan::IndexFromDeviceNumber(device),
                                                   motor, speed);
}

std::int32_t DownloadAndRunRoughPhasePLC(std::uint32_t device, std::int16_t motor) {
  return zimo::corvan::tuning::DownloadAndRunRoughPhasePLC(
      zimo::corvan::LibraryCommandPath(), zimo::corvan::IndexFromDeviceNumber(device), motor);
}

std::int32_t CreateIncrementalFinePhasePLC(std::uint32_t device, const char* path, std::int16_t plc,
                                           std::int16_t motor, std::int32_t, std::int32_t) {
  return zimo::corvan::tuning::CreateIncrementalFinePhasePLC(
      zimo::corvan::LibraryCommandPath(), zimo::corvan::IndexFromDeviceNumber(device), path, plc,
      motor);
}

}  // extern "C"
