#include "cardsim/attach_text.h"

#include <optional>

#include "cardsim/card.h"

namespace zimo::cardsim {

void TextPort::TakeText(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  size_t start = 0;
  while (start <= text.size()) {
    size_t cr = text.find(ctrl::kCr, start);
    if (cr == std::string_view::npos) cr = text.size();
    if (cr > start || start == 0) AppendReply(card_.Execute(text.substr(start, cr - start)));
    start = cr + 1;
  }
}

void TextPort::TakeCharacter(char c) {
  if (c == ctrl::kCr) {
    const std::string line = std::move(line_);
    line_.clear();
    AppendReply(card_.Execute(line));
  } else if (c == ctrl::kCtrlX) {
    // Flush: the card drops its pending output and the partial line.
    Flush();
    card_.Control(c);
  } else if (c == ctrl::kLf) {
    // Line feeds between commands mean nothing to the interpreter.
  } else if (static_cast<unsigned char>(c) < 0x20) {
    AppendReply(card_.Control(c));
  } else if (line_.size() < max_line_) {
    line_ += c;
  }
}

void TextPort::AppendReply(const Reply& reply) {
  if (reply.silent) return;
  const std::string bytes = card_.Format(reply);
  if (bytes.empty()) return;
  const Clock::time_point ready = Clock::now() + reply.delay;
  if (pending_.empty() || ready > ready_at_) ready_at_ = ready;
  pending_ += bytes;
}

void TextPort::Flush() {
  pending_.clear();
  line_.clear();
}

bool TextPort::OutputReady() {
  if (!pending_.empty()) return Clock::now() >= ready_at_;
  return !unsolicited_.empty() || PullUnsolicited();
}

bool TextPort::StartUnsolicited() {
  if (!pending_.empty()) return false;
  if (unsolicited_.empty() && !PullUnsolicited()) return false;
  pending_ = std::string(1, ctrl::kStx) + unsolicited_.front() + std::string(1, ctrl::kCr);
  unsolicited_.pop_front();
  ready_at_ = Clock::now();
  return true;
}

std::chrono::microseconds TextPort::Delay() const {
  const Clock::time_point now = Clock::now();
  if (pending_.empty() || ready_at_ <= now) return std::chrono::microseconds(0);
  return std::chrono::duration_cast<std::chrono::microseconds>(ready_at_ - now);
}

bool TextPort::PullUnsolicited() {
  if (card_.script().muted()) return false;
  std::optional<std::string> line = card_.TakeUnsolicited();
  if (!line) return false;
  unsolicited_.push_back(std::move(*line));
  return true;
}

}  // namespace zimo::cardsim
