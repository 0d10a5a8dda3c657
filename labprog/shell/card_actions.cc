#include "labprog/card_actions.h"

#include <cmath>

#include "labhelper/qeldll32.h"
#include "platform/clock.h"
#include "platform/message.h"
#include "ui/form_language.h"

namespace zimo::labprog {

namespace {

void Wait(std::chrono::milliseconds length) {
  platform::CurrentClock().Sleep(std::chrono::duration_cast<platform::Micros>(length));
}

}  // namespace

void Download::Pause(std::chrono::milliseconds length) {
  program_.Windows.Beep();
  Wait(length);
  program_.Windows.Beep();
}

void Download::Send(const std::string& command) {
  program_.Link.SendControllerCommand(program_.Link.ReplyText, command);
}

void Download::Run(const std::string& file) {
  CommandPath& link = program_.Link;
  const bool personality = file != kCompiledAlgorithmFile;
  window_.PollEnabled = false;
  link.ClearControllerBuffer();
  if (personality) {
    for (const char* command : {"$$$***", "m0..1023->*", "p0..1023=1230", "q0..1023=0"}) {
      Send(command);
      Pause(kShortPause);
    }
  }
  const int32_t file_size = get_file_size(file.c_str());
  int32_t bytes_sent = 0;
  Send("i3=2");
  if (open_file(file.c_str()) != 0) {
    char buffer[256];
    for (;;) {
      int16_t raw_length = 0;
      buffer[0] = '\0';
      const int16_t end = read_a_line_from_file(buffer, &raw_length);
      // At the end of the file the reader may still hand over a last line
      // without a line end: it goes out like the others.
      if (end != 0 && raw_length == 0) break;
      bytes_sent += raw_length - 2;
      if (file_size > 0) {
        const double percent = static_cast<double>(bytes_sent) * 100 / file_size;
        if (std::lround(percent) % 10 == 0 && on_progress) on_progress(percent);
      }
      Send(buffer);
      if (pump_events) pump_events();
      if (end != 0 || cancel_requested_) break;
    }
    close_file();
  }
  if (cancel_requested_) {
    Send("$$$***");
    (void)platform::ShowMessageBox(
        "Personality download aborted by user. Please download again before using system.",
        "Notice", platform::kMbOk | platform::kMbIconExclamation);
    (void)link.ConnectController();
  } else {
    Send("cls");
    if (personality) {
      Pause(kShortPause);
      Send("save");
      // The card is silent while it saves; give it a bounded time.
      platform::Clock& clock = platform::CurrentClock();
      const platform::Micros give_up = clock.Now() + kSaveAnswerLimit;
      for (;;) {
        Send("p0");
        if (!link.ReplyText.empty() || clock.Now() >= give_up) break;
        Wait(kSaveAnswerRetry);
      }
      Pause(kLongPause);
      Send("$$$");
      Pause(kLongPause);
    }
  }
  window_.PollEnabled = true;
  (void)link.ConnectController();
}

void ZeroPosition(LabProgram& program) {
  CommandPath& link = program.Link;
  if (link.OnlineFlag == 0) return;
  link.SendControllerCommand(link.ReplyText, "P1000");
  if (ui::Val(link.ReplyText) != 11) link.SendControllerCommand(link.ReplyText, "M9..14=0");
}

void ResetController(LabProgram& program) {
  CommandPath& link = program.Link;
  if (link.OnlineFlag == 0) return;
  link.SendControllerLine("$$$");
  Wait(kResetPause);
  link.SendControllerCommand(link.ReplyText, "i3=2");
}

}  // namespace zimo::labprog
