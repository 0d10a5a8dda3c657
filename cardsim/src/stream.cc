// The card's byte stream: input framing (lines, control characters,
// checksummed lines, serial firmware images) and the output form that the
// handshake I-variables choose.
#include "cardsim/stream.h"

#include <cstdio>

#include "cardsim/card.h"
#include "cardsim/interpreter.h"
#include "cardsim/variables.h"

namespace zimo::cardsim {

namespace {
// Input kept for one line; anything longer is answered with an error.
constexpr size_t kStreamLineLimit = Interpreter::kMaxLine + 1;
}  // namespace

uint8_t Checksum(std::string_view bytes) {
  uint8_t sum = 0;
  for (char c : bytes) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
  return sum;
}

std::string FormatReply(const Reply& reply, const FrameMode& mode) {
  if (reply.silent) return {};
  if (reply.flushed) return std::string(1, ctrl::kCtrlX);
  std::string out;
  const char* end = (mode.i3 & 1) != 0 ? "\r\n" : "\r";
  for (const std::string& line : reply.lines) {
    std::string framed = line + end;
    out += framed;
    if (mode.checksum) out += static_cast<char>(Checksum(framed));
  }
  if (reply.error != 0 && mode.i6 != 2) {
    if (mode.i6 == 0) {
      out += "\a\r";
    } else {
      char text[16];
      std::snprintf(text, sizeof text, "\aERR%03d\r", reply.error % 1000);
      out += text;
    }
    return out;
  }
  bool ack = reply.ack && mode.i3 >= 2 && (!reply.control || mode.i63);
  if (ack) {
    out += ctrl::kAck;
    if (mode.checksum) out += static_cast<char>(mode.last_checksum);
  }
  return out;
}

std::string FormatUnsolicited(std::string_view line, const FrameMode& mode) {
  std::string out;
  if (mode.i64) out += ctrl::kStx;
  out += line;
  out += ctrl::kCr;
  return out;
}

FrameMode Card::ModeLocked() const {
  FrameMode mode;
  mode.i3 = static_cast<int>(vars_->I(3));
  mode.i6 = static_cast<int>(vars_->I(6));
  mode.i63 = vars_->I(63) != 0;
  mode.i64 = vars_->I(64) != 0;
  mode.checksum = vars_->I(4) == 1;
  mode.last_checksum = last_checksum_;
  return mode;
}

FrameMode Card::Mode() const {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return ModeLocked();
}

bool Card::ChecksumMode() const { return Mode().checksum; }

std::string Card::Format(const Reply& reply) const { return FormatReply(reply, Mode()); }

std::string Card::DrainUnsolicitedLocked(const FrameMode& mode) {
  std::string out;
  if (script_->muted()) return out;
  while (!unsolicited_.empty()) {
    out += FormatUnsolicited(unsolicited_.front(), mode);
    unsolicited_.pop_front();
  }
  return out;
}

std::string Card::TakeStreamOutput() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return DrainUnsolicitedLocked(ModeLocked());
}

void Card::FeedImageByte(char c) { firmware_.AddSerialByte(static_cast<uint8_t>(c)); }

CardOutput Card::FeedWithDelay(std::string_view bytes_in) {
  CardOutput output;
  output.bytes = Feed(bytes_in, &output.delay);
  return output;
}

std::string Card::Feed(std::string_view bytes_in, std::chrono::microseconds* delay) {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  std::string out;
  std::chrono::microseconds held{0};
  auto answer = [&](Reply reply, const FrameMode& mode) {
    held += reply.delay;
    if (reply.silent) return;
    out += DrainUnsolicitedLocked(mode);
    out += FormatReply(reply, mode);
  };
  for (size_t i = 0; i < bytes_in.size(); ++i) {
    char c = bytes_in[i];
    if (image_mode_) {
      // A serial firmware image. With its length configured, every byte up
      // to that length is data and the image ends there; otherwise a CTRL-R
      // that ends the input at a word boundary ends it.
      if (firmware_.expected_bytes() != 0) {
        if (!firmware_.Complete()) {
          FeedImageByte(c);
          continue;
        }
        image_mode_ = false;
      } else {
        bool last = i + 1 == bytes_in.size();
        if (c == ctrl::kCtrlR && last && firmware_.bytes() % 3 == 0) {
          image_mode_ = false;
          answer(ControlLocked(c), ModeLocked());
        } else {
          FeedImageByte(c);
        }
        continue;
      }
    }
    auto u = static_cast<unsigned char>(c);
    if (c == ctrl::kCr) {
      FrameMode mode = ModeLocked();  // the reply keeps the form the line came in
      Reply reply;
      if (stream_overflow_) {
        script_->Log(stream_line_ + "...");
        reply.error = card_error::kCommunication;
        Finish(reply);
      } else {
        reply = ExecuteLocked(stream_line_);
      }
      if (mode.checksum) {
        last_checksum_ = Checksum(stream_line_);
        mode.last_checksum = last_checksum_;
      }
      stream_line_.clear();
      stream_overflow_ = false;
      stream_sum_ = 0;
      answer(std::move(reply), mode);
    } else if (c == ctrl::kLf) {
      // A line feed after the CR is no command of its own.
    } else if (c == '\t') {
      stream_line_ += ' ';
      stream_sum_ = static_cast<uint8_t>(stream_sum_ + u);
    } else if (u < 0x20) {
      if (c == ctrl::kCtrlX) {
        // Flush: the partial line and all pending output are dropped.
        stream_line_.clear();
        stream_overflow_ = false;
        stream_sum_ = 0;
        out.clear();
        answer(ControlLocked(c), ModeLocked());
      } else if (c == ctrl::kCtrlN && ModeLocked().checksum) {
        script_->Log("^N");
        out += static_cast<char>(stream_sum_);
      } else {
        FrameMode mode = ModeLocked();
        if (mode.checksum) {
          last_checksum_ = static_cast<uint8_t>(c);
          mode.last_checksum = last_checksum_;
        }
        answer(ControlLocked(c), mode);
      }
    } else if (stream_line_.size() < kStreamLineLimit) {
      stream_line_ += c;
      stream_sum_ = static_cast<uint8_t>(stream_sum_ + u);
    } else {
      stream_overflow_ = true;
    }
  }
  if (delay != nullptr) *delay = held;
  return out;
}

}  // namespace zimo::cardsim
