#include "cardsim/script.h"

#include <algorithm>
#include <cctype>

#include "cardsim/memory.h"

namespace zimo::cardsim {

namespace {
std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}
}  // namespace

void Script::SetMuted(bool muted) {
  std::lock_guard<std::mutex> lock(mu_);
  muted_ = muted;
}

void Script::SilenceAfter(int after, int count) {
  std::lock_guard<std::mutex> lock(mu_);
  silence_after_ = std::max(after, 0);
  silence_text_.clear();
  silence_count_ = count;
  silent_ = false;
}

void Script::SilenceAt(std::string text, int count) {
  std::lock_guard<std::mutex> lock(mu_);
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  silence_text_ = std::move(text);
  silence_after_ = -1;
  silence_count_ = count;
  silent_ = false;
}

void Script::ClearSilence() {
  std::lock_guard<std::mutex> lock(mu_);
  silence_after_ = -1;
  silence_text_.clear();
  silent_ = false;
}

bool Script::TakeSilence(const std::string& line) {
  std::lock_guard<std::mutex> lock(mu_);
  if (!silent_) {
    if (silence_after_ > 0) {
      --silence_after_;
      return false;
    }
    std::string upper = line;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    bool start = silence_after_ == 0 ||
                 (!silence_text_.empty() && upper.find(silence_text_) != std::string::npos);
    if (!start) return false;
    silent_ = true;
    silence_after_ = -1;
    silence_text_.clear();
  }
  if (silence_count_ == 0) {
    silent_ = false;
    return false;
  }
  if (silence_count_ > 0 && --silence_count_ == 0) silent_ = false;
  return true;
}

bool Script::muted() const {
  std::lock_guard<std::mutex> lock(mu_);
  return muted_;
}

void Script::InjectError(int error, int count) {
  std::lock_guard<std::mutex> lock(mu_);
  inject_error_ = error;
  inject_count_ = error == 0 ? 0 : count;
}

void Script::FailLinesMatching(std::string pattern, int error) {
  std::lock_guard<std::mutex> lock(mu_);
  match_pattern_ = Upper(std::move(pattern));
  match_error_ = match_pattern_.empty() ? 0 : error;
}

int Script::TakeInjectedError(const std::string& line) {
  std::lock_guard<std::mutex> lock(mu_);
  if (inject_count_ != 0 && inject_error_ != 0) {
    if (inject_count_ > 0) --inject_count_;
    return inject_error_;
  }
  if (match_error_ != 0 && Upper(line).find(match_pattern_) != std::string::npos) {
    return match_error_;
  }
  return 0;
}

void Script::SetReplyDelay(std::chrono::microseconds delay, int count) {
  std::lock_guard<std::mutex> lock(mu_);
  delay_ = delay;
  delay_count_ = delay.count() > 0 ? count : 0;
}

std::chrono::microseconds Script::TakeReplyDelay() {
  std::lock_guard<std::mutex> lock(mu_);
  if (delay_count_ == 0) return std::chrono::microseconds(0);
  if (delay_count_ > 0) --delay_count_;
  return delay_;
}

void Script::SetAckOmitted(bool omitted) {
  std::lock_guard<std::mutex> lock(mu_);
  ack_omitted_ = omitted;
}

bool Script::ack_omitted() const {
  std::lock_guard<std::mutex> lock(mu_);
  return ack_omitted_;
}

void Script::SetControlReplyLength(char c, int length) {
  std::lock_guard<std::mutex> lock(mu_);
  auto u = static_cast<unsigned char>(c);
  if (u < 32) control_cut_[u] = std::max(length, 0);
}

int Script::control_reply_length(char c) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto u = static_cast<unsigned char>(c);
  return u < 32 ? control_cut_[u] : 0;
}

void Script::SetDprFrozen(bool frozen) {
  std::lock_guard<std::mutex> lock(mu_);
  dpr_frozen_ = frozen;
}

bool Script::dpr_frozen() const {
  std::lock_guard<std::mutex> lock(mu_);
  return dpr_frozen_;
}

void Script::SetGatherFrozen(bool frozen) {
  std::lock_guard<std::mutex> lock(mu_);
  gather_frozen_ = frozen;
}

bool Script::gather_frozen() const {
  std::lock_guard<std::mutex> lock(mu_);
  return gather_frozen_;
}

void Script::SetGatherListLimit(int words) {
  std::lock_guard<std::mutex> lock(mu_);
  gather_list_limit_ = std::max(words, 0);
}

int Script::gather_list_limit() const {
  std::lock_guard<std::mutex> lock(mu_);
  return gather_list_limit_;
}

void Script::SetStatusLength(int length) {
  std::lock_guard<std::mutex> lock(mu_);
  status_length_ = std::max(length, 0);
}

int Script::status_length() const {
  std::lock_guard<std::mutex> lock(mu_);
  return status_length_;
}

void Script::StickDprBits(size_t offset, uint32_t mask, uint32_t value) {
  memory_->StickDprBits(offset, mask, value);
}

void Script::ClearStuckBits() { memory_->ClearStuckBits(); }

void Script::SetRotor(int motor, const RotorScript& rotor) {
  std::lock_guard<std::mutex> lock(mu_);
  rotors_[motor] = rotor;
  ++brushless_version_;
}

RotorScript Script::rotor(int motor) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = rotors_.find(motor);
  return it == rotors_.end() ? RotorScript{} : it->second;
}

void Script::SetPhaseCurrents(int channel, const PhaseCurrentScript& scale) {
  std::lock_guard<std::mutex> lock(mu_);
  phase_currents_[channel] = scale;
  ++brushless_version_;
}

PhaseCurrentScript Script::phase_currents(int channel) const {
  std::lock_guard<std::mutex> lock(mu_);
  auto it = phase_currents_.find(channel);
  return it == phase_currents_.end() ? PhaseCurrentScript{} : it->second;
}

void Script::Log(std::string entry) {
  std::lock_guard<std::mutex> lock(mu_);
  log_.push_back(std::move(entry));
  if (log_.size() > kLogLimit) log_.pop_front();
}

std::vector<std::string> Script::received() const {
  std::lock_guard<std::mutex> lock(mu_);
  return {log_.begin(), log_.end()};
}

void Script::ClearLog() {
  std::lock_guard<std::mutex> lock(mu_);
  log_.clear();
}

}  // namespace zimo::cardsim
