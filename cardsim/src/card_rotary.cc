// The Card's binary rotary entry points: each takes the card's lock and
// hands over to its rotary buffers (rotary_buffers.h).
#include "cardsim/card.h"
#include "cardsim/interpreter.h"
#include "cardsim/rotary_buffers.h"

namespace zimo::cardsim {

uint32_t Card::RotaryPutStaged(int buffer, std::string_view staged) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return rotary_->PutStaged(buffer, staged);
}

uint32_t Card::RotaryPutNetwork(int buffer, std::string_view payload) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return rotary_->PutNetwork(buffer, payload);
}

bool Card::RotaryInit(int buffer) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return rotary_->Init(buffer);
}

void Card::HostRotaryData(std::string_view bytes) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  rotary_->TakeHostPipe(bytes);
}

bool Card::HostRotaryReady() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return rotary_->HostReady();
}

void Card::HostRotaryReset() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  rotary_->ResetHostReception();
}

void Card::ScriptRotaryAnswer(uint32_t code, size_t take, int every, int count) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  rotary_->ScriptStagedAnswer(code, take, every, count);
}

void Card::QueueRotaryAnswers(std::vector<std::pair<uint32_t, size_t>> answers) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  rotary_->QueueStagedAnswers(std::move(answers));
}

std::string Card::HostRotaryReceived() const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return rotary_->host_pipe_bytes();
}

void Card::ScriptHostRotaryRefusal(int every, int count) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  rotary_->ScriptHostRefusal(every, count);
}

void Card::SetHostRotaryCapacity(size_t units) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  rotary_->SetHostCapacity(units);
}

void Card::SetRotaryBufferError(int buffer, bool on) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  rotary_->SetBufferError(buffer, on);
}

size_t Card::HostRotaryErrors() const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return rotary_->host_errors();
}

std::vector<std::string> Card::MotionLog() const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return rotary_->motion_log();
}

void Card::ClearMotionLog() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  rotary_->ClearMotionLog();
}

}  // namespace zimo::cardsim
