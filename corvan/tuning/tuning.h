// Inside the tuning code: the helpers that are not exported, the card
// program writer the procedures share, and the forms of the procedures that
// take a command path (the exports use the library's own).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "link/library_app.h"
#include "link/variables.h"

namespace zimo::corvan::tuning {

// A command line: at most 255 characters and the terminator.
inline constexpr std::size_t kCommandSize = 256;
// The shared reply buffer of the procedures: 255 characters.
inline constexpr std::uint32_t kReplyMax = 255;

// Exactly `count` characters (fewer when the text ends first), 4 bits for
// each of '0'-'9' and 'A'-'F'; anything else is skipped.
std::uint32_t ParseHexDigits(const char* text, std::int32_t count);

// Composes a command; false (and `out` empty) when it does not fit.
bool ComposeCommand(char* out, const char* format, va_list args);

// Sends a card program one line an exchange. Once an exchange times out or
// fails, nothing more is sent and ok() stays false; a card error reply does
// not stop it. A line that does not fit is not sent and also stops it.
//
// A writer that goes out of scope with a program buffer open (an OPEN line
// went out, and no CLOSE was answered after it) sends CLOSE, answered or
// not: otherwise the card would store every later line of every client
// instead of running it.
class ProgramWriter {
 public:
  ProgramWriter(CardCommandPath& path, int device) : path_(path), device_(device) {}
  ~ProgramWriter();
  ProgramWriter(const ProgramWriter&) = delete;
  ProgramWriter& operator=(const ProgramWriter&) = delete;

  bool Line(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool ok() const { return ok_; }
  // The last reply (white space outside quotes removed).
  const char* reply() const { return reply_; }
  // The status word of the last exchange.
  std::uint32_t status() const { return status_; }

 private:
  CardCommandPath& path_;
  int device_;
  bool ok_ = true;
  bool buffer_open_ = false;
  std::uint32_t status_ = 0;
  char reply_[kReplyMax + 1] = {};
};

// Whether the global status ("???") shows a buffered mode; `card_type` is
// the device's card type code.
int InBufferedMode(CardCommandPath& path, int device, int card_type);

// The procedures over a given path (motor checks included).
int DownloadPosLimitPLC(CardCommandPath& path, int device, int motor);
int DownloadVelLimitPLC(CardCommandPath& path, int device, int motor, std::int32_t speed);
int DownloadAndRunRoughPhasePLC(CardCommandPath& path, int device, int motor);
int CreateIncrementalFinePhasePLC(CardCommandPath& path, int device, const char* file, int plc,
                                  int motor);
// The gantry parabolic program for motors `first` and `second` (1 to 8);
// `card_type` picks the older or the newer card map (4 and above).
int DoAGantryParabolic(CardCommandPath& path, int device, int card_type, int first, int second);

// What the tuning procedures and the set-up tests need of a card besides
// its command path. The library's own fills every part from the device
// table and the library's exports; a part left unset does nothing (a line
// without a reply is then not sent), so a test fills only the parts the
// procedure under test uses.
struct TuningCard {
  CardCommandPath& path;
  int device = 0;
  // The device's card type code (4 and above: the newer card map).
  int card_type = 0;
  // The device table's generation flag: the SPRAN generation.
  bool spran = false;
  // Sends a line without reading a reply; false when it could not be sent.
  std::function<bool(const char* line)> send_line = [](const char*) { return false; };
  // Sends one control character and takes the card's answer to it.
  std::function<void(char character)> send_char = [](char) {};
  // Drops what the card still has to say.
  std::function<void()> flush = [] {};
  // The gather presets for a motor mask: the standard motor signals, the
  // current registers, and the brushless current-loop test's (direct
  // current); each clears the sources first.
  using MaskGather = std::function<void(std::uint32_t mask, std::int32_t enable)>;
  MaskGather quick_gather = [](std::uint32_t, std::int32_t) {};
  MaskGather current_gather = [](std::uint32_t, std::int32_t) {};
  MaskGather direct_current_gather = [](std::uint32_t, std::int32_t) {};
  // Sets gather source `source` to an address text ("" clears it).
  std::function<void(std::uint32_t source, const char* address, std::int32_t enable)> set_gather =
      [](std::uint32_t, const char*, std::int32_t) {};
};

// The library's own: the device's command path, its table entry and the
// library's line, control-character and gather exports.
TuningCard LibraryTuningCard(std::uint32_t device);

// The quick-gather mask of the last test of this process; an autotuning
// download for a motor past 8 gathers with it again.
std::uint32_t& LastQuickGatherMask();
// The gather mask of a motor's (1 to 8) commanded position, actual
// position and output.
std::uint32_t MotorGatherMask(int motor);
// Sets up the quick gather of a motor (1 to 8) and keeps its mask as the
// last; any other motor is gathered with the last mask again.
void QuickGatherMotor(TuningCard& card, int motor);

// Position step and parabolic move of one motor (1 to 8) or a gantry pair:
// gather, write the program and start it. 1 when every line went to the
// card; 0 for motors out of range (nothing sent) or once the card stops
// answering (nothing sent after that line, nothing started).
int DoAPositionLoopStep(TuningCard& card, int motor, std::int32_t step, int milliseconds,
                        int bidirectional);
int DoAParabolicMove(TuningCard& card, int motor, std::int32_t step, int milliseconds,
                     int bidirectional);
int DoAGantryPositionLoopStep(TuningCard& card, int first, int second, std::int32_t step,
                              int milliseconds, int bidirectional);
int DoAGantryParabolicMove(TuningCard& card, int first, int second, std::int32_t step,
                           int milliseconds, int bidirectional);
// The gather period of a step: servo cycles per sample, at least 1; an
// unknown servo time (I10 0 or less) gives 1.
std::int32_t StepGatherPeriod(std::int32_t i10, int milliseconds);

// The autotuning program PLC 31 (written, not enabled) for a motor (1 to
// 32; past 8 the last test's gather mask is used again) or a gantry pair.
int DownloadAutoTuningPLC(TuningCard& card, int motor, int current_loop, int bypass_jog);
int DownloadGantryAutoTuningPLCP1(TuningCard& card, int first, int second, int current_loop,
                                  int bypass_jog);
int DownloadGantryAutoTuningPLC(TuningCard& card, int first, int second, int current_loop,
                                int bypass_jog, float travel, std::int32_t milliseconds);

// The estimation networks: `inputs` holds 90 (slope) or 10 (magnitude)
// numbers; the estimate goes into `estimate`. The first argument is not
// used. Both return 0.
inline constexpr int kSlopeInputs = 90;
inline constexpr int kMagnitudeInputs = 10;
int SlopeNetwork(void* unused, const float* inputs, float* estimate);
int MagnitudeNetwork(void* unused, const float* inputs, float* estimate);

// Reads `count` whole numbers from the text file; false when it cannot be
// opened or holds fewer.
bool ReadEstimatorInputs(const char* file, int count, float* out);
// Reads the file, evaluates the network and sends "P1023=%f"; 1 when the
// card took the line.
int RunEstimator(CardCommandPath& path, int device, const char* file, int count,
                 int (*network)(void*, const float*, float*));

// Arguments of a current-loop step test.
struct CurrentLoopStep {
  int motor;               // 1 to 8
  int dwell_ms;            // length of the step
  std::int32_t magnitude;  // the step command (P1018)
  bool autotune;           // set the current-loop gains for the test
  float duty_percent;      // open-loop output while the motor waits
  int divisor;             // integral gain 0.25 / divisor
  bool compact;            // the compact card's clock variables
};

// The brushless and the brush step. Writes the sample time ("%lf", at most
// 31 characters) into `sample_time` (may be null). 1 when the card reported
// the step over; 0 for arguments refused (nothing sent), once the card stops
// answering (nothing sent after that), for clock settings that cannot be
// read or used, or when the step does not end within 1 s + dwell + 5 s.
int DoACurrentLoopStep(TuningCard& card, const CurrentLoopStep& step, char* sample_time);
int DoACurrentLoopStepBrush(TuningCard& card, const CurrentLoopStep& step, char* sample_time);
// Writes back what the last test of this process on that device and motor
// saved (values it could not read are left alone). 1 when every line went
// to the card; 0, with nothing sent, when there was no such test, or once
// the card stops answering (the saved values stay for another try).
int RestoreModifiedIvars(TuningCard& card, int motor);
// Forgets the saved values (a fresh process).
void ForgetCurrentLoopTest();

}  // namespace zimo::corvan::tuning
