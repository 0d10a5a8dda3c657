// The Utility menu's card actions: the line-by-line download of a
// personality file or of the compiled control algorithm, Zero Position and
// Reset Controller.
//
// Waits are timed on the process clock (platform::CurrentClock), each
// between two beeps where the card needs a pause: kShortPause after each
// preparatory command and before "save", kLongPause before and after the
// reset that ends a personality download. After "save" the card is asked
// "p0" until it answers again, for at most kSaveAnswerLimit; then the
// download goes on with the reset.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "labprog/lab_program.h"
#include "labprog/status_window.h"

namespace zimo::labprog {

inline constexpr std::chrono::milliseconds kShortPause{200};
inline constexpr std::chrono::milliseconds kLongPause{2000};
inline constexpr std::chrono::milliseconds kResetPause{300};
inline constexpr std::chrono::seconds kSaveAnswerLimit{30};
inline constexpr std::chrono::milliseconds kSaveAnswerRetry{100};

// The name that selects the compiled algorithm instead of a personality.
inline constexpr const char* kCompiledAlgorithmFile = "plc0.56k";

class Download {
 public:
  Download(LabProgram& program, StatusWindow& window) : program_(program), window_(window) {}

  // The bar's percentage, when it reaches a multiple of ten.
  std::function<void(double percent)> on_progress;
  // Lets the window's pending events run after each line (Cancel may be
  // pressed there).
  std::function<void()> pump_events;

  void Cancel() { cancel_requested_ = true; }
  bool cancel_requested() const { return cancel_requested_; }

  // Sends `file`; the compiled algorithm when it is kCompiledAlgorithmFile.
  // Every line goes out as the helper library's line reader cleaned it (its
  // comment and control characters removed), the last one also without a
  // line end; a Cancel stops before the next line, resets the card's
  // queues and variables, tells the user and looks for the card again.
  void Run(const std::string& file);

 private:
  void Pause(std::chrono::milliseconds length);
  void Send(const std::string& command);

  LabProgram& program_;
  StatusWindow& window_;
  bool cancel_requested_ = false;
};

// Zero Position: unless the plant is the magnetic levitation one, sets the
// command and encoder positions to 0.
void ZeroPosition(LabProgram& program);
// Reset Controller: "$$$" without a reply, a pause, then "i3=2".
void ResetController(LabProgram& program);

}  // namespace zimo::labprog
