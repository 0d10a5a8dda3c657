// The process-wide list of active controls and the periodic command table.
// Controls that show the same command share one entry, so each due command
// goes to the card once per tick; a tick sends through the record of the
// control whose timer fired. Everything runs on the controls' one thread.
#include <cctype>
#include <cstring>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "internal.h"
#include "platform/message.h"

using namespace jux;

namespace {

constexpr size_t kCommandSize = 41;  // 40 characters and a terminator
constexpr size_t kResponseSize = 16384;
constexpr short kOneShot = 4;

struct Node {
  JuxControl* control;
  long interval;
  short kind;
  bool leaving = false;  // taken out during a pass; removed when it ends
};

struct Entry {
  std::vector<Node> controls;
  char command[kCommandSize] = {};
  std::string response;
  std::string previous;
  long smallest = 0;  // smallest positive interval of its controls; 0: never due
  short kind() const { return controls.empty() ? 0 : controls.front().kind; }
  bool left() const {
    for (const Node& n : controls) {
      if (!n.leaving) return false;
    }
    return true;
  }
};

std::vector<JuxControl*> g_active;
std::list<std::unique_ptr<Entry>> g_entries;
Entry* g_cursor = nullptr;
long g_tick = 0;
// Above 0 while a pass runs: a repaint may take controls out of the table, which
// then only marks their nodes, so the pass's walk stays as it began.
int g_in_pass = 0;

// The replies a card still owes the table: a command went out and its reply
// was not read. Kept per card, whichever control ticks: the reply is read
// for its entry when the pass comes back to it, and read and dropped before
// anything else is sent to that card, so no entry takes another's reply.
struct Owed {
  int count = 0;             // replies sent for and not read
  Entry* entry = nullptr;    // the entry the last one belongs to (null: none left)
  int failed_reads = 0;      // reads of that entry's reply that found nothing
};
std::map<const tagMCardInfo*, Owed> g_owed;

// Before a send: the card's owed replies are read and dropped; one that does
// not come in a read's time is flushed away with whatever else is waiting.
void SettleOwed(tagMCardInfo* record, Owed& owed, char* buffer, size_t size) {
  while (owed.count > 0) {
    if (PGetLine(record, buffer, static_cast<unsigned>(size))) {
      --owed.count;
    } else {
      PFlush(record);
      owed.count = 0;
    }
  }
  owed.entry = nullptr;
  owed.failed_reads = 0;
}

void SendFor(tagMCardInfo* record, Owed& owed, Entry& e, char* buffer, size_t size) {
  SettleOwed(record, owed, buffer, size);
  PSendLine(record, e.command);
  owed.count = 1;
  owed.entry = &e;
}

// An entry that goes away leaves its owed reply to be dropped.
void ForgetEntry(const Entry* e) {
  for (auto& [record, owed] : g_owed) {
    if (owed.entry == e) owed.entry = nullptr;
  }
}

bool Space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// White space inside either text is ignored; white space left over after the
// other text ended prevents the match.
bool SameCommand(const char* entry, const char* text) {
  while (*entry != '\0' && *text != '\0') {
    if (Space(*entry)) {
      ++entry;
    } else if (Space(*text)) {
      ++text;
    } else if (*entry != *text) {
      return false;
    } else {
      ++entry;
      ++text;
    }
  }
  return *entry == '\0' && *text == '\0';
}

// A control with an interval of 0 or less is never due, so it takes no part.
void Recompute(Entry& e) {
  e.smallest = 0;
  for (const Node& n : e.controls) {
    if (n.leaving) continue;
    if (n.interval > 0 && (e.smallest == 0 || n.interval < e.smallest)) e.smallest = n.interval;
  }
}

void WarnTooLong() {
  zimo::platform::ShowMessageBox(
      "The 'ZIMOCommandString' for this control is too long.  Please limit it to 40 characters.",
      "Warning", zimo::platform::kMbOk | zimo::platform::kMbIconExclamation);
}

Entry* EntryOf(JuxControl* control, Node** node = nullptr) {
  for (auto& e : g_entries) {
    for (Node& n : e->controls) {
      if (n.control == control && !n.leaving) {
        if (node != nullptr) *node = &n;
        return e.get();
      }
    }
  }
  return nullptr;
}

int Add(JuxControl* control, const char* command, long interval, short kind) {
  const char* text = command != nullptr ? command : "";
  if (text[0] != '\0' && kind != kOneShot) {
    for (auto& e : g_entries) {
      if (e->kind() != kOneShot && !e->left() && SameCommand(e->command, text)) {
        e->controls.push_back({control, interval, kind});
        Recompute(*e);
        g_cursor = nullptr;
        return 1;
      }
    }
  }
  auto e = std::make_unique<Entry>();
  e->controls.push_back({control, interval, kind});
  Recompute(*e);
  if (std::strlen(text) > kCommandSize - 1) {
    WarnTooLong();
  } else {
    CopyText(e->command, sizeof(e->command), text);
  }
  g_entries.push_back(std::move(e));
  g_cursor = nullptr;
  return 1;
}

int Take(JuxControl* control, long* interval, short* kind) {
  for (auto it = g_entries.begin(); it != g_entries.end(); ++it) {
    Entry& e = **it;
    for (auto n = e.controls.begin(); n != e.controls.end(); ++n) {
      if (n->control != control || n->leaving) continue;
      *interval = n->interval;
      *kind = n->kind;
      if (g_in_pass > 0) {
        n->leaving = true;
        Recompute(e);
        return 1;
      }
      e.controls.erase(n);
      if (!e.controls.empty()) {
        Recompute(e);
      } else {
        if (g_cursor == &e) g_cursor = nullptr;
        ForgetEntry(&e);
        g_entries.erase(it);
        if (g_entries.empty()) g_cursor = nullptr;
      }
      return 1;
    }
  }
  return 0;
}

// After a pass: the nodes taken out during it go, and entries left without
// controls with them.
void Sweep() {
  for (auto it = g_entries.begin(); it != g_entries.end();) {
    Entry& e = **it;
    std::erase_if(e.controls, [](const Node& n) { return n.leaving; });
    if (!e.controls.empty()) {
      ++it;
      continue;
    }
    if (g_cursor == &e) g_cursor = nullptr;
    ForgetEntry(&e);
    it = g_entries.erase(it);
  }
  if (g_entries.empty()) g_cursor = nullptr;
}

void Repaint(JuxControl* control) {
  if (control == nullptr || control->refresh == nullptr) return;
  if (control->ambient_ui_dead != nullptr && control->ambient_ui_dead(control)) return;
  control->refresh(control);
}

}  // namespace

namespace jux {
void ForgetOwedReplies(const tagMCardInfo* record) { g_owed.erase(record); }
}  // namespace jux

extern "C" {

void add_myself_to_the_active_Vocto_list(JuxControl* control) {
  for (JuxControl* c : g_active) {
    if (c == control) return;
  }
  g_active.push_back(control);
}

void remove_myself_from_the_active_Vocto_list(JuxControl* control) {
  for (auto it = g_active.begin(); it != g_active.end(); ++it) {
    if (*it == control) {
      g_active.erase(it);
      return;
    }
  }
}

int FindCardByName(const char* name, tagMCardInfo** record) {
  if (record != nullptr) *record = nullptr;
  if (name == nullptr || name[0] == '\0' || record == nullptr) return 0;
  for (JuxControl* c : g_active) {
    if (c == nullptr || c->record == nullptr || c->record->name[0] == '\0') continue;
    if (std::strncmp(c->record->name, name, kNameSize) == 0) {
      *record = c->record;
      return 1;
    }
  }
  return 0;
}

int get_Vocto_m_struct_address(JuxControl* caller, const char* name, tagMCardInfo** record) {
  (void)caller;
  return FindCardByName(name, record);
}

int add_to_command_table(JuxControl* control, char* command, long interval, short kind) {
  return Add(control, command, interval, kind);
}

int remove_from_command_table(JuxControl* control) {
  long interval = 0;
  short kind = 0;
  return Take(control, &interval, &kind);
}

int get_ZIMO_response_string(JuxControl* control, char* buffer) {
  if (buffer == nullptr) return 0;
  buffer[0] = '\0';
  Node* node = nullptr;
  Entry* e = EntryOf(control, &node);
  if (e == nullptr || e->response.empty()) return 0;
  CopyText(buffer, kResponseSize, e->response.c_str());
  if (node->kind == kOneShot) e->response.clear();
  return 1;
}

int set_ZIMO_command_string(JuxControl* control, const char* command, int in_place) {
  const char* text = command != nullptr ? command : "";
  if (std::strlen(text) > kCommandSize - 1) {
    WarnTooLong();
    return 0;
  }
  if (in_place) {
    Entry* e = EntryOf(control);
    if (e == nullptr) return 0;
    CopyText(e->command, sizeof(e->command), text);
    return 1;
  }
  long interval = 0;
  short kind = 0;
  if (!Take(control, &interval, &kind)) return 0;
  Add(control, text, interval, kind);
  return 1;
}

int set_ZIMO_command_interval(JuxControl* control, long interval) {
  Node* node = nullptr;
  Entry* e = EntryOf(control, &node);
  if (e == nullptr) return 0;
  node->interval = interval;
  Recompute(*e);
  g_tick = 1;
  return 1;
}

// The caller's send flag says what its own last tick left; the table goes by
// what the card of this record still owes, which another control's tick (or
// a control that has gone) may have left.
static int Pass(tagMCardInfo* record);

int update_commands_in_table(tagMCardInfo* record, int send) {
  (void)send;
  ++g_in_pass;
  const int result = Pass(record);
  if (--g_in_pass == 0) Sweep();
  return result;
}

static int Pass(tagMCardInfo* record) {
  if (g_entries.empty()) return 1;
  auto it = g_entries.begin();
  if (g_cursor != nullptr) {
    while (it != g_entries.end() && it->get() != g_cursor) ++it;
    if (it == g_entries.end()) it = g_entries.begin();
  }
  static char buffer[kResponseSize];
  // The buffer holds its characters and a terminator.
  constexpr size_t kRead = kResponseSize - 1;
  for (; it != g_entries.end(); ++it) {
    Entry& e = **it;
    g_cursor = &e;
    if (record == nullptr || e.command[0] == '\0') continue;
    Owed& owed = g_owed[record];
    const bool awaited = owed.count == 1 && owed.entry == &e;
    if (e.kind() != kOneShot) {
      if (!awaited && (e.smallest <= 0 || g_tick % e.smallest != 0)) continue;
      if (!awaited) SendFor(record, owed, e, buffer, kRead);
      if (!PGetLine(record, buffer, kRead)) {
        // The first failure waits for the late reply on the next tick; when
        // that read fails too the entry is sent anew, its reply still owed.
        if (++owed.failed_reads < 2) return 0;
        owed.entry = nullptr;
        owed.failed_reads = 0;
        return 1;
      }
      owed.count = 0;
      owed.entry = nullptr;
      owed.failed_reads = 0;
      szStripControlChar(buffer);
      e.previous = e.response;
      e.response = buffer;
      if (e.response != e.previous) {
        // The controls the entry had when the pass came to it, by index (a
        // repaint may add to the list); one taken out meanwhile is skipped.
        const size_t count = e.controls.size();
        for (size_t i = 0; i < count; ++i) {
          const Node n = e.controls[i];
          if (!n.leaving && n.interval > 0 && g_tick % n.interval == 0) Repaint(n.control);
        }
      }
    } else {
      if (!awaited) {
        SendFor(record, owed, e, buffer, kRead);
        return 0;
      }
      if (!PIsLineWaiting(record)) return 0;
      PGetLine(record, buffer, kRead);
      PFlush(record);
      owed.count = 0;
      owed.entry = nullptr;
      owed.failed_reads = 0;
      e.command[0] = '\0';
      e.response = buffer;
      if (!e.controls.front().leaving) Repaint(e.controls.front().control);
    }
  }
  g_cursor = nullptr;
  ++g_tick;
  return 1;
}

}  // extern "C"
