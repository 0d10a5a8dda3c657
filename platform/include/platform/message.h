// Message boxes. Code that tells the user something, or asks, goes through
// the process's current MessageService: a window-system one where there is a
// display, a recorder with scripted answers in tests, and otherwise a
// console service that never waits for anybody.
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zimo::platform {

// Box flags, with the Windows numbers callers and stored settings use.
// Buttons (the low four bits):
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbOkCancel = 0x1;
inline constexpr uint32_t kMbAbortRetryIgnore = 0x2;
inline constexpr uint32_t kMbYesNoCancel = 0x3;
inline constexpr uint32_t kMbYesNo = 0x4;
inline constexpr uint32_t kMbRetryCancel = 0x5;
inline constexpr uint32_t kMbTypeMask = 0xF;
// Icons:
inline constexpr uint32_t kMbIconError = 0x10;  // also "hand" and "stop"
inline constexpr uint32_t kMbIconQuestion = 0x20;
inline constexpr uint32_t kMbIconExclamation = 0x30;  // also "warning"
inline constexpr uint32_t kMbIconInformation = 0x40;  // also "asterisk"
inline constexpr uint32_t kMbIconMask = 0xF0;
// Default button (the first unless one of these says otherwise):
inline constexpr uint32_t kMbDefButton1 = 0x000;
inline constexpr uint32_t kMbDefButton2 = 0x100;
inline constexpr uint32_t kMbDefButton3 = 0x200;
inline constexpr uint32_t kMbDefMask = 0xF00;
// Modality and placement:
inline constexpr uint32_t kMbApplModal = 0x0000;
inline constexpr uint32_t kMbSystemModal = 0x1000;
inline constexpr uint32_t kMbTaskModal = 0x2000;
inline constexpr uint32_t kMbSetForeground = 0x10000;
inline constexpr uint32_t kMbTopmost = 0x40000;

// Answers.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdAbort = 3;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdIgnore = 5;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// The answers of a box's buttons, left to right. An unknown button type
// shows OK alone.
std::vector<int> BoxButtons(uint32_t flags);
// The answer of the box's default button (the first button when the default
// named is beyond the last).
int DefaultAnswer(uint32_t flags);

// A box nobody answers (no person at the screen, or a window-system box
// not picked up within its wait) gets the answer of its default button, in
// every service. Code that asks while holding a device lock makes the
// answer that keeps the link and ends the operation its default.
class MessageService {
 public:
  virtual ~MessageService() = default;
  // Shows a box and returns the answer (one of kId...); unattended, the
  // default button's answer (DefaultAnswer(flags)).
  virtual int Show(std::string_view text, std::string_view caption, uint32_t flags) = 0;
};

// Writes each box to stderr (and the debug channel) and answers with its
// default button at once. The process's service until another is installed.
class ConsoleMessageService : public MessageService {
 public:
  int Show(std::string_view text, std::string_view caption, uint32_t flags) override;
};

// Records every box and answers from a script: queued answers first, then
// the box's default button. A queued answer that is not one of the box's
// buttons would send the caller down a path no user could take: such a box
// gets its default answer instead and is marked `script_mismatch`.
class MessageRecorder : public MessageService {
 public:
  struct Box {
    std::string text;
    std::string caption;
    uint32_t flags = 0;
    int answer = 0;  // what Show returned
    bool script_mismatch = false;
  };

  int Show(std::string_view text, std::string_view caption, uint32_t flags) override;

  void QueueAnswer(int answer);
  void QueueAnswers(std::initializer_list<int> answers);

  std::vector<Box> boxes() const;
  size_t count() const;
  std::optional<Box> last() const;
  // Scripted answers not yet used.
  size_t pending_answers() const;
  void Clear();  // forgets boxes and the script

 private:
  mutable std::mutex mutex_;
  std::vector<Box> boxes_;
  std::deque<int> script_;
};

// The process's current service. nullptr restores the console service.
MessageService& CurrentMessageService();
void SetMessageService(MessageService* service);

// Shows a box through the current service.
int ShowMessageBox(std::string_view text, std::string_view caption, uint32_t flags);

// Installs a service for a scope and restores the previous one after it.
class ScopedMessageService {
 public:
  explicit ScopedMessageService(MessageService& service);
  ~ScopedMessageService();
  ScopedMessageService(const ScopedMessageService&) = delete;
  ScopedMessageService& operator=(const ScopedMessageService&) = delete;

 private:
  MessageService* previous_;
};

}  // namespace zimo::platform
