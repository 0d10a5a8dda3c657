#include "cardsim/attach_mailbox.h"

#include <algorithm>
#include <cstring>

#include "cardsim/memory.h"

namespace zimo::cardsim {

MailboxLayout MailboxLayout::Older() { return {0x62C, 0x62E, 0x630, 0x6D0, 0x6D2, 0x6D4}; }
MailboxLayout MailboxLayout::Spran() { return {0xE9C, 0xE9E, 0xEA0, 0xF40, 0xF42, 0xF44}; }
MailboxLayout MailboxLayout::For(const CardModel& model) {
  return model.spran ? Spran() : Older();
}

uint16_t mailbox_status::Error(int number) {
  if (number < 0) number = -number;
  const int tens = (number / 10) % 10;
  const int units = number % 10;
  return static_cast<uint16_t>(kError | (tens << 4) | units);
}

Mailbox::Mailbox(Card& card) : card_(card), layout_(MailboxLayout::For(card.model())) {}

void Mailbox::Step(std::chrono::microseconds now) {
  if (card_.IVar(58) != 1) return;
  Memory& m = card_.memory();
  const bool spran = card_.model().spran;

  uint8_t control = 0;
  m.ReadDpr(layout_.control, &control, 1);
  bool flag = m.DprWord(layout_.host_flag) != 0;
  if (control != 0 && (spran || flag)) {
    // SPRAN cards watch the control byte alone; older cards take it with the
    // flag word, which then announces no text.
    const uint8_t zero = 0;
    m.WriteDpr(layout_.control, &zero, 1);
    if (!spran) {
      m.SetDprWord(layout_.host_flag, 0);
      flag = false;
    }
    TakeControl(static_cast<char>(control), now);
  }
  if (flag) {
    char text[MailboxLayout::kHostTextSize];
    m.ReadDpr(layout_.host_text, text, sizeof(text));
    const size_t length = strnlen(text, sizeof(text) - 1);  // the last byte always ends it
    m.SetDprWord(layout_.host_flag, 0);
    const std::string line(text, length);
    if (line.size() == 1 && static_cast<unsigned char>(line[0]) < 0x20) {
      TakeControl(line[0], now);  // a character sent as a one-character text
    } else {
      Enqueue(card_.Execute(line), now);
    }
  }

  if (m.DprWord(layout_.card_status) != 0 || now < due_) return;
  // A muted card keeps its messages until it may speak again.
  if (out_.empty() && !card_.script().muted()) {
    if (std::optional<std::string> message = card_.TakeUnsolicited()) {
      Reply reply;
      reply.lines.push_back(std::move(*message));
      reply.ack = false;
      Enqueue(reply, now);
      for (Entry& e : out_) e.status |= mailbox_status::kUnsolicited;
    }
  }
  if (out_.empty()) return;
  Post(out_.front());
  out_.pop_front();
}

void Mailbox::TakeControl(char c, std::chrono::microseconds now) {
  if (c == ctrl::kCtrlX) {
    // A flush drops the reply in progress and is answered at once.
    out_.clear();
    card_.Control(c);
    out_.push_back({mailbox_status::kFlushAnswer, {}});
    due_ = now;
    return;
  }
  Enqueue(card_.Control(c), now);
}

void Mailbox::Enqueue(const Reply& reply, std::chrono::microseconds now) {
  if (reply.silent) return;
  if (out_.empty()) due_ = now + reply.delay;
  for (const std::string& line : reply.lines) {
    // A line longer than the slot goes out in several entries; nothing is cut.
    size_t at = 0;
    do {
      out_.push_back({mailbox_status::kLine, line.substr(at, MailboxLayout::kCardTextMax)});
      at += MailboxLayout::kCardTextMax;
    } while (at < line.size());
  }
  if (reply.error != 0) {
    out_.push_back({mailbox_status::Error(reply.error), {}});
  } else if (reply.ack) {
    out_.push_back({mailbox_status::kAck, {}});
  }
}

void Mailbox::Post(const Entry& entry) {
  Memory& m = card_.memory();
  std::string text = entry.text;
  text.push_back('\0');
  m.WriteDpr(layout_.card_text, text.data(), text.size());
  m.SetDprWord(layout_.card_count, static_cast<uint16_t>(text.size()));
  // The status word goes last: it tells the host that the entry is complete.
  m.SetDprWord(layout_.card_status, entry.status);
}

}  // namespace zimo::cardsim
