// The active control list and the periodic command table, ticking against
// the simulated card on a serial line.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cardsim/attach_pty.h"
#include "cardsim/card.h"
#include "gtest/gtest.h"
#include "jux/jux170.h"
#include "platform/message.h"
#include "temp_home.h"

namespace {

namespace p = zimo::platform;
using zimo::cardsim::Card;
using zimo::cardsim::CardModel;
using zimo::cardsim::PtyAttachment;

struct Control {
  JuxControl c{};
  int repaints = 0;
  bool dead = false;
  std::function<void()> on_repaint;  // what the control does when repainted
  explicit Control(tagMCardInfo* record) {
    c.record = record;
    c.user = this;
    c.refresh = [](JuxControl* self) {
      auto* control = static_cast<Control*>(self->user);
      ++control->repaints;
      if (control->on_repaint) control->on_repaint();
    };
    c.ambient_ui_dead = [](JuxControl* self) {
      return static_cast<Control*>(self->user)->dead ? 1 : 0;
    };
  }
};

class Table : public ::testing::Test {
 protected:
  void SetUp() override {
    zimo::cardsim::PtyOptions options;
    options.com_port = 4;
    auto pty = PtyAttachment::Start(card_, options);
    ASSERT_TRUE(pty.ok());
    pty_ = std::move(*pty);
    tagMCardInfo image;
    std::memset(&image, 0, sizeof(image));
    std::strcpy(image.name, "TABLE");
    image.method = 2;
    image.com_port = 4;
    image.baud_rate = 9600;
    image.retries = 2;
    record_ = JUXInit(&image);
    ASSERT_NE(record_, nullptr);
    ASSERT_EQ(record_->connected, 1);
    card_.script().ClearLog();
  }
  void TearDown() override {
    JUXShutDown(&record_);
    pty_->Stop();
  }
  size_t Sent(const std::string& line) {
    const auto log = card_.script().received();
    return static_cast<size_t>(std::count(log.begin(), log.end(), line));
  }

  zimo::testing::TempHome home_;
  p::MessageRecorder boxes_;
  p::ScopedMessageService scoped_{boxes_};
  Card card_{CardModel::Older()};
  std::unique_ptr<PtyAttachment> pty_;
  tagMCardInfo* record_ = nullptr;
};

TEST_F(Table, SharedEntrySendsOnItsSmallestIntervalAndRepaintsByEach) {
  Control a(record_), b(record_);
  // The entry keeps the first control's text.
  char p1[] = "P1", p_1[] = "P 1";
  EXPECT_EQ(add_to_command_table(&a.c, p1, 5, 0), 1);
  EXPECT_EQ(add_to_command_table(&b.c, p_1, 2, 0), 1);
  int send = 1;
  for (int pass = 0; pass < 20; ++pass) {
    card_.SetPVar(1, pass + 1);
    send = update_commands_in_table(record_, send);
    ASSERT_EQ(send, 1) << pass;
  }
  EXPECT_EQ(Sent("P1"), 10u);
  EXPECT_EQ(a.repaints, 2);
  EXPECT_EQ(b.repaints, 10);
  char buffer[16384];
  EXPECT_EQ(get_ZIMO_response_string(&b.c, buffer), 1);
  EXPECT_STREQ(buffer, "19");
  // Still there after one control leaves; gone with the last.
  EXPECT_EQ(remove_from_command_table(&a.c), 1);
  EXPECT_EQ(get_ZIMO_response_string(&b.c, buffer), 1);
  EXPECT_EQ(remove_from_command_table(&b.c), 1);
  EXPECT_EQ(remove_from_command_table(&b.c), 0);
  EXPECT_EQ(get_ZIMO_response_string(&b.c, buffer), 0);
}

TEST_F(Table, TrailingBlankAndOneShotGetEntriesOfTheirOwn) {
  Control periodic(record_), blank(record_), once(record_);
  char p1[] = "P1", p1b[] = "P1 ", p1c[] = "P1";
  add_to_command_table(&periodic.c, p1, 1, 0);
  add_to_command_table(&blank.c, p1b, 1, 0);
  add_to_command_table(&once.c, p1c, 1, 4);
  card_.SetPVar(1, 42);
  int send = update_commands_in_table(record_, 1);
  EXPECT_EQ(send, 0);  // stopped at the one-shot's outstanding reply
  // Ticks of a control's timer until the one-shot's reply is in.
  for (int i = 0; i < 400 && send == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    send = update_commands_in_table(record_, send);
  }
  EXPECT_EQ(send, 1);
  EXPECT_EQ(Sent("P1"), 2u);
  EXPECT_EQ(Sent("P1 "), 1u);
  EXPECT_EQ(once.repaints, 1);
  char buffer[16384];
  ASSERT_EQ(get_ZIMO_response_string(&once.c, buffer), 1);
  EXPECT_STREQ(buffer, "42");
  EXPECT_EQ(get_ZIMO_response_string(&once.c, buffer), 0);  // read once
  // The one-shot is done: later passes do not send it.
  card_.script().ClearLog();
  EXPECT_EQ(update_commands_in_table(record_, 1), 1);
  EXPECT_EQ(Sent("P1"), 1u);
  EXPECT_EQ(Sent("P1 "), 1u);
  for (Control* c : {&periodic, &blank, &once}) remove_from_command_table(&c->c);
}

TEST_F(Table, OverlongCommandWarnsAndIsNeverSent) {
  Control c(record_);
  std::string long_command(41, 'I');
  EXPECT_EQ(add_to_command_table(&c.c, long_command.data(), 1, 0), 1);
  ASSERT_EQ(boxes_.count(), 1u);
  EXPECT_EQ(boxes_.last()->text,
            "The 'ZIMOCommandString' for this control is too long.  Please limit it to 40 "
            "characters.");
  EXPECT_EQ(boxes_.last()->caption, "Warning");
  EXPECT_EQ(boxes_.last()->flags, p::kMbOk | p::kMbIconExclamation);
  EXPECT_EQ(set_ZIMO_command_string(&c.c, long_command.c_str(), 1), 0);
  EXPECT_EQ(boxes_.count(), 2u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(update_commands_in_table(record_, 1), 1);
  EXPECT_TRUE(card_.script().received().empty());
  // A command set in place is sent from then on.
  EXPECT_EQ(set_ZIMO_command_string(&c.c, "I10", 1), 1);
  EXPECT_EQ(update_commands_in_table(record_, 1), 1);
  EXPECT_EQ(Sent("I10"), 1u);
  remove_from_command_table(&c.c);
}

TEST_F(Table, LostReplyIsRetriedThenSentAnew) {
  Control c(record_), never(record_);
  char p1[] = "P1", p2[] = "P2";
  add_to_command_table(&c.c, p1, 1, 0);
  add_to_command_table(&never.c, p2, 0, 0);  // interval 0: never due
  card_.SetPVar(1, 7);
  card_.script().SetMuted(true);
  EXPECT_EQ(update_commands_in_table(record_, 1), 0);
  card_.script().SetMuted(false);
  // The read-only retry finds nothing either, so the next tick sends again.
  EXPECT_EQ(update_commands_in_table(record_, 0), 1);
  EXPECT_EQ(Sent("P1"), 1u);
  EXPECT_EQ(update_commands_in_table(record_, 1), 1);
  EXPECT_EQ(Sent("P1"), 2u);
  char buffer[16384];
  ASSERT_EQ(get_ZIMO_response_string(&c.c, buffer), 1);
  EXPECT_STREQ(buffer, "7");
  EXPECT_EQ(Sent("P2"), 0u);
  remove_from_command_table(&c.c);
  remove_from_command_table(&never.c);
}

TEST_F(Table, RepaintsThatTakeControlsOutLeaveThePassWhole) {
  card_.SetPVar(1, 1);
  card_.SetPVar(2, 2);
  card_.SetPVar(3, 3);
  char p1[] = "P1", p2[] = "P2", p3[] = "P3";
  // Entry P1: a's repaint takes b (after it) out; c must still be repainted
  // once. Entry P2: d's repaint takes d, its entry's last control, out and
  // destroys it. Entry P3: e, after them.
  Control a(record_), b(record_), c(record_), e(record_);
  auto d = std::make_unique<Control>(record_);
  for (Control* x : {&a, &b, &c}) add_to_command_table(&x->c, p1, 1, 0);
  add_to_command_table(&d->c, p2, 1, 0);
  add_to_command_table(&e.c, p3, 1, 0);
  bool took_b = false;
  a.on_repaint = [&] {
    if (took_b) return;
    took_b = true;
    EXPECT_EQ(remove_from_command_table(&b.c), 1);
  };
  d->on_repaint = [&] {
    EXPECT_EQ(remove_from_command_table(&d->c), 1);
    EXPECT_EQ(remove_from_command_table(&d->c), 0);  // already out
    d.reset();
  };
  EXPECT_EQ(update_commands_in_table(record_, 1), 1);
  EXPECT_EQ(d, nullptr);
  EXPECT_EQ(a.repaints, 1);
  EXPECT_EQ(b.repaints, 0);
  EXPECT_EQ(c.repaints, 1);
  EXPECT_EQ(e.repaints, 1);
  // Taken out for good once the pass is over: P2 is no longer sent.
  char buffer[16384];
  EXPECT_EQ(get_ZIMO_response_string(&b.c, buffer), 0);
  EXPECT_EQ(remove_from_command_table(&b.c), 0);
  card_.SetPVar(1, 10);
  card_.SetPVar(3, 30);
  EXPECT_EQ(update_commands_in_table(record_, 1), 1);
  EXPECT_EQ(Sent("P2"), 1u);
  EXPECT_EQ(a.repaints, 2);
  EXPECT_EQ(c.repaints, 2);
  EXPECT_EQ(e.repaints, 2);
  ASSERT_EQ(get_ZIMO_response_string(&c.c, buffer), 1);
  EXPECT_STREQ(buffer, "10");
  for (Control* x : {&a, &c, &e}) EXPECT_EQ(remove_from_command_table(&x->c), 1);
}

// A card whose reply to the first command comes late: after the table's
// read and its retry have given up, but before anything else is read.
class LateReply : public Table {
 protected:
  void SetUp() override {
    Table::SetUp();
    if (HasFatalFailure()) return;
    card_.SetPVar(1, 11);
    card_.SetPVar(2, 22);
    // A read gives up after the record's 500 idle polls (about 50 ms); the
    // reply comes 2.5 s after its command.
    card_.script().SetReplyDelay(std::chrono::milliseconds(2500), 1);
  }
  // Waits (in real time, bounded) until the late reply is in the line.
  void AwaitLateReply() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!PIsLineWaiting(record_) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(PIsLineWaiting(record_), 1) << "the late reply never came";
  }
  std::string Response(Control& c) {
    static char buffer[16384];
    return get_ZIMO_response_string(&c.c, buffer) == 1 ? buffer : "<none>";
  }
};

TEST_F(LateReply, EveryEntryKeepsItsOwnReplyAfterTheReadGaveUp) {
  Control a(record_), b(record_);
  char p1[] = "P1", p2[] = "P2";
  add_to_command_table(&a.c, p1, 1, 0);
  add_to_command_table(&b.c, p2, 1, 0);
  EXPECT_EQ(update_commands_in_table(record_, 1), 0);  // P1 sent, nothing yet
  EXPECT_EQ(update_commands_in_table(record_, 0), 1);  // the retry gives up
  AwaitLateReply();
  for (int pass = 0; pass < 3; ++pass) {
    EXPECT_EQ(update_commands_in_table(record_, 1), 1) << pass;
    EXPECT_EQ(Response(a), "11") << pass;
    EXPECT_EQ(Response(b), "22") << pass;
  }
  remove_from_command_table(&a.c);
  remove_from_command_table(&b.c);
}

TEST_F(LateReply, AnotherControlsTickReadsTheReplyItDidNotSendFor) {
  // Two controls on the card, each passing its own send flag: the second
  // one's flag says "send" while the first one's reply is still owed.
  Control a(record_), b(record_);
  char p1[] = "P1", p2[] = "P2";
  add_to_command_table(&a.c, p1, 1, 0);
  add_to_command_table(&b.c, p2, 1, 0);
  int a_send = 1, b_send = 1;
  a_send = update_commands_in_table(a.c.record, a_send);
  EXPECT_EQ(a_send, 0);
  AwaitLateReply();
  b_send = update_commands_in_table(b.c.record, b_send);
  EXPECT_EQ(b_send, 1);
  EXPECT_EQ(Sent("P1"), 1u);
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_EQ(Response(a), "11") << pass;
    EXPECT_EQ(Response(b), "22") << pass;
    a_send = update_commands_in_table(a.c.record, a_send);
    b_send = update_commands_in_table(b.c.record, b_send);
  }
  remove_from_command_table(&a.c);
  remove_from_command_table(&b.c);
}

TEST_F(LateReply, AControlDestroyedWhileItsReplyIsOwedLeavesNoReplyBehind) {
  auto a = std::make_unique<Control>(record_);
  Control b(record_);
  char p1[] = "P1", p2[] = "P2";
  add_to_command_table(&a->c, p1, 1, 0);
  add_to_command_table(&b.c, p2, 1, 0);
  EXPECT_EQ(update_commands_in_table(record_, 1), 0);
  remove_from_command_table(&a->c);
  a.reset();
  AwaitLateReply();
  for (int pass = 0; pass < 2; ++pass) {
    EXPECT_EQ(update_commands_in_table(record_, 1), 1) << pass;
    EXPECT_EQ(Response(b), "22") << pass;
  }
  remove_from_command_table(&b.c);
}

TEST_F(Table, GatherSettingsAreReadFromTheCard) {
  Control a(record_);
  add_myself_to_the_active_Vocto_list(&a.c);
  for (int n = 10; n <= 45; ++n) card_.SetIVar(n, n * 1000 + 7);
  long ivars[46];
  for (long& v : ivars) v = -1;
  EXPECT_EQ(get_gather_Ivars("TABLE", ivars), 1);
  EXPECT_EQ(ivars[9], -1);
  for (int n = 10; n <= 45; ++n) EXPECT_EQ(ivars[n], n * 1000 + 7) << n;
  EXPECT_EQ(card_.IVar(58), 1);
  EXPECT_EQ(get_gather_Ivars("OTHER", ivars), 0);
  remove_myself_from_the_active_Vocto_list(&a.c);
}

TEST_F(Table, ActiveListFindsCardsByExactName) {
  Control a(record_), none(nullptr);
  add_myself_to_the_active_Vocto_list(&none.c);
  add_myself_to_the_active_Vocto_list(&a.c);
  add_myself_to_the_active_Vocto_list(&a.c);
  tagMCardInfo* found = reinterpret_cast<tagMCardInfo*>(1);
  EXPECT_EQ(FindCardByName("TABLE", &found), 1);
  EXPECT_EQ(found, record_);
  EXPECT_EQ(get_Vocto_m_struct_address(nullptr, "table", &found), 0);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(FindCardByName("", &found), 0);
  remove_myself_from_the_active_Vocto_list(&a.c);
  EXPECT_EQ(FindCardByName("TABLE", &found), 0);
  remove_myself_from_the_active_Vocto_list(&none.c);
}

}  // namespace
