// Message boxes on screen: the platform's MessageService shown with
// QMessageBox.
//
// A box is always shown by the application's GUI thread. A box asked for on
// another thread is handed to the GUI thread, and the asking thread waits for
// the user's answer. That thread may hold a device lock (the transports ask
// the user while they own the card) and the GUI thread may be waiting for the
// same lock: the box would then never appear and both would wait forever. So
// the asking thread waits only a short while for the GUI thread to take the
// box up; when it does not, the box is withdrawn and the caller gets the
// box's default answer, exactly as a program without a window system does.
// Once the box is on screen, its answer is awaited without a limit.
//
// Without a QApplication (or from a process whose application has no GUI)
// the service answers like the console service.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/message.h"

class QMessageBox;

namespace zimo::ui {

// How long a box asked for on another thread waits for the GUI thread to
// take it up.
inline constexpr std::chrono::milliseconds kDefaultPickupTimeout{3000};

class QtMessageService : public platform::MessageService {
 public:
  explicit QtMessageService(std::chrono::milliseconds pickup_timeout = kDefaultPickupTimeout);
  ~QtMessageService() override;

  int Show(std::string_view text, std::string_view caption, uint32_t flags) override;

 private:
  int ShowOnGuiThread(std::string_view text, std::string_view caption, uint32_t flags);
  int ShowFromOtherThread(std::string_view text, std::string_view caption, uint32_t flags);

  std::chrono::milliseconds pickup_timeout_;
  platform::ConsoleMessageService console_;
};

// The box for `flags` (buttons, icon, default button, topmost), not yet
// shown. The caller owns it.
std::unique_ptr<QMessageBox> MakeMessageBox(std::string_view text, std::string_view caption,
                                            uint32_t flags);

// The answer (platform::kId...) of a box that `MakeMessageBox(flags)` built,
// once it has ended: the button the user pressed. A box closed
// without a button (the window closed, Escape) answers Cancel when it has a
// Cancel button, else its only or default button.
int AnswerOfBox(const QMessageBox& box, uint32_t flags);

}  // namespace zimo::ui
