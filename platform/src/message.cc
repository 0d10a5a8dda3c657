#include "platform/message.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "platform/debug.h"

namespace zimo::platform {
namespace {

std::atomic<MessageService*> g_service{nullptr};

const char* AnswerName(int answer) {
  switch (answer) {
    case kIdOk:
      return "OK";
    case kIdCancel:
      return "Cancel";
    case kIdAbort:
      return "Abort";
    case kIdRetry:
      return "Retry";
    case kIdIgnore:
      return "Ignore";
    case kIdYes:
      return "Yes";
    case kIdNo:
      return "No";
  }
  return "?";
}

}  // namespace

std::vector<int> BoxButtons(uint32_t flags) {
  switch (flags & kMbTypeMask) {
    case kMbOkCancel:
      return {kIdOk, kIdCancel};
    case kMbAbortRetryIgnore:
      return {kIdAbort, kIdRetry, kIdIgnore};
    case kMbYesNoCancel:
      return {kIdYes, kIdNo, kIdCancel};
    case kMbYesNo:
      return {kIdYes, kIdNo};
    case kMbRetryCancel:
      return {kIdRetry, kIdCancel};
    default:
      return {kIdOk};
  }
}

int DefaultAnswer(uint32_t flags) {
  std::vector<int> buttons = BoxButtons(flags);
  size_t index = (flags & kMbDefMask) >> 8;
  return index < buttons.size() ? buttons[index] : buttons.front();
}

int ConsoleMessageService::Show(std::string_view text, std::string_view caption, uint32_t flags) {
  const int answer = DefaultAnswer(flags);
  std::string line = "[message box] ";
  line.append(caption);
  line += ": ";
  line.append(text);
  line += " -> ";
  line += AnswerName(answer);
  line += '\n';
  // The debug channel already goes to stderr when enabled; do not say it twice.
  if (!DebugToStderr()) {
    size_t done = 0;
    while (done < line.size()) {
      ssize_t n = ::write(STDERR_FILENO, line.data() + done, line.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }
  DebugOutput(line);
  return answer;
}

int MessageRecorder::Show(std::string_view text, std::string_view caption, uint32_t flags) {
  std::lock_guard<std::mutex> lock(mutex_);
  Box box;
  box.text = std::string(text);
  box.caption = std::string(caption);
  box.flags = flags;
  box.answer = DefaultAnswer(flags);
  if (!script_.empty()) {
    int scripted = script_.front();
    script_.pop_front();
    std::vector<int> buttons = BoxButtons(flags);
    if (std::find(buttons.begin(), buttons.end(), scripted) != buttons.end()) {
      box.answer = scripted;
    } else {
      box.script_mismatch = true;
    }
  }
  boxes_.push_back(box);
  return box.answer;
}

void MessageRecorder::QueueAnswer(int answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.push_back(answer);
}

void MessageRecorder::QueueAnswers(std::initializer_list<int> answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.insert(script_.end(), answers.begin(), answers.end());
}

std::vector<MessageRecorder::Box> MessageRecorder::boxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

size_t MessageRecorder::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_.size();
}

std::optional<MessageRecorder::Box> MessageRecorder::last() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (boxes_.empty()) return std::nullopt;
  return boxes_.back();
}

size_t MessageRecorder::pending_answers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return script_.size();
}

void MessageRecorder::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  boxes_.clear();
  script_.clear();
}

MessageService& CurrentMessageService() {
  static ConsoleMessageService console;
  MessageService* service = g_service.load(std::memory_order_acquire);
  return service != nullptr ? *service : console;
}

void SetMessageService(MessageService* service) {
  g_service.store(service, std::memory_order_release);
}

int ShowMessageBox(std::string_view text, std::string_view caption, uint32_t flags) {
  return CurrentMessageService().Show(text, caption, flags);
}

ScopedMessageService::ScopedMessageService(MessageService& service)
    : previous_(g_service.load(std::memory_order_acquire)) {
  SetMessageService(&service);
}

ScopedMessageService::~ScopedMessageService() { SetMessageService(previous_); }

}  // namespace zimo::platform
