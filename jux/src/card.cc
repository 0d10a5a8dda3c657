// The card table, start-up and shut-down, the last-error words and the card
// settings file.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "channels.h"
#include "internal.h"
#include "jux/card_image.h"
#include "platform/clock.h"
#include "platform/message.h"

namespace jux {
namespace {

tagMCardInfo* g_cards[kMaxCards] = {};
int g_count = 0;
long g_last_error = 0;
SlotResources g_slots[kMaxCards];

// A slot index no open record holds.
int FreeSlot() {
  for (int s = 0; s < kMaxCards; ++s) {
    bool held = false;
    for (int i = 0; i < g_count; ++i) held = held || g_cards[i]->slot == s;
    if (!held) return s;
  }
  return -1;
}

// "<current directory>\<name>.CFG" as a path of this machine; false when
// the current directory cannot be read or the name does not fit.
bool SettingsPath(const char* name, std::string* path) {
  char cwd[256];
  if (::getcwd(cwd, sizeof(cwd)) == nullptr) return false;
  *path = std::string(cwd) + "/" + name + ".CFG";
  return true;
}

}  // namespace

void SetGlobalError(long code) { g_last_error = code; }
long GlobalError() { return g_last_error; }

void SetError(tagMCardInfo* record, long code) {
  if (record != nullptr) {
    record->last_error = static_cast<int32_t>(code);
  } else {
    g_last_error = code;
  }
}

SlotResources& Slot(int slot) { return g_slots[slot]; }

SlotResources* SlotOf(const tagMCardInfo* record) {
  if (record == nullptr || record->slot < 0 || record->slot >= kMaxCards) return nullptr;
  return &g_slots[record->slot];
}

bool IsOpenRecord(const tagMCardInfo* record) {
  for (int i = 0; i < g_count; ++i) {
    if (g_cards[i] == record) return true;
  }
  return false;
}

size_t CopyText(char* dest, size_t capacity, const char* src) {
  if (dest == nullptr || capacity == 0) return 0;
  size_t n = 0;
  if (src != nullptr) {
    while (n + 1 < capacity && src[n] != '\0') {
      dest[n] = src[n];
      ++n;
    }
  }
  dest[n] = '\0';
  return n;
}

bool IsCtrl(char c) { return std::iscntrl(static_cast<unsigned char>(c)) != 0; }

void ReleaseSlot(int slot) {
  if (slot < 0 || slot >= kMaxCards) return;
  SlotResources& s = g_slots[slot];
  s.serial.reset();
  s.serial_errors = 0;
  s.serial_input.clear();
  if (s.bus_range != nullptr) HwDeletePort(static_cast<HwPortRange>(s.bus_range));
  s.bus_range = nullptr;
  HwUnmapMemory(&s.dpr_mapping);
  s.dpr_window = nullptr;
}

void PollPause() { zimo::platform::CurrentClock().Sleep(kPollPause); }

ImageFault CheckCardImage(const tagMCardInfo& image) {
  auto flag = [](int32_t v) { return v == 0 || v == 1; };
  if (image.method < 0 || image.method > 3) return {1005, "method"};
  if (!flag(image.simulated)) return {1005, "simulated flag"};
  if (!flag(image.connected)) return {1005, "connected flag"};
  if (!flag(image.bootstrap)) return {1005, "bootstrap flag"};
  if (!flag(image.bus_open)) return {1005, "bus open flag"};
  if (!flag(image.dpr_open)) return {1005, "DPR open flag"};
  if (!flag(image.serial_open)) return {1005, "serial open flag"};
  if (image.bus_type < 0 || image.bus_type > 2) return {1005, "bus type"};
  if (image.method == 2) {
    if (image.com_port < 1 || image.com_port > 16) return {3001, "COM port"};
    if (!AcceptedBaudRate(image.baud_rate)) return {3002, "baud rate"};
  }
  return {};
}

}  // namespace jux

using namespace jux;

extern "C" {

tagMCardInfo* JUXInit(tagMCardInfo* image) {
  if (image == nullptr) {
    SetGlobalError(1005);
    return nullptr;
  }
  // A field no channel looks at (a flag, the method, the bus type) is
  // refused here; a port or rate out of range the channel's open refuses
  // with its own code, the record kept as for any failed open.
  if (const ImageFault fault = CheckCardImage(*image); fault.code == 1005) {
    SetGlobalError(fault.code);
    return nullptr;
  }
  if (image->method == 0 || image->method == 1) {
    if (!HwIsDriverConfigured()) {
      HwConfigureDriver();
      zimo::platform::ShowMessageBox(
          "The ZIMO Communications driver has been configured in your registry", "Vocto Info",
          zimo::platform::kMbOk);
      zimo::platform::ShowMessageBox("Please reboot your system", "Vocto Info",
                                     zimo::platform::kMbOk);
      SetGlobalError(1008);
      return nullptr;
    }
    if (!HwIsDriverRunning() && !HwStartDriver()) {
      char text[128];
      std::snprintf(text, sizeof(text),
                    "Unable to start supporting device driver.  Reported Last Error: %ld",
                    HwLastSystemError());
      zimo::platform::ShowMessageBox(text, "Info", zimo::platform::kMbOk);
      SetGlobalError(1009);
      return nullptr;
    }
  }
  if (g_count >= kMaxCards) {
    SetGlobalError(1007);
    return nullptr;
  }
  auto* record = new (std::nothrow) tagMCardInfo;
  if (record == nullptr) {
    SetGlobalError(1001);
    return nullptr;
  }
  std::memcpy(record, image, sizeof(tagMCardInfo));
  record->name[kNameSize - 1] = '\0';
  record->slot = FreeSlot();
  g_cards[g_count++] = record;
  // The handle words of an image (a settings file may hold those of an
  // earlier run) never describe this record's resources.
  record->serial_handle = 0;
  record->dpr_view = 0;
  record->mailbox = 0;
  if (record->simulated) return record;
  record->connected = 0;
  record->bus_open = 0;
  record->dpr_open = 0;
  record->serial_open = 0;
  if (record->timeout < 500) record->timeout = 500;
  if (!POpenChannel(record)) {
    SetGlobalError(record->last_error);
    record->connected = 0;
    return record;
  }
  if (!record->connected) {
    record->last_error = 1006;
    return record;
  }
  switch (record->method) {
    case 0:
      BUSSendCommand(record, "I6=1");
      break;
    case 1:
      DPRSendCommand(record, "I6=1");
      break;
    case 2:
      SERSendCommand(record, "I6=1");
      break;
  }
  return record;
}

int JUXShutDown(tagMCardInfo** record) {
  if (record == nullptr) return 0;
  tagMCardInfo* r = *record;
  int index = -1;
  for (int i = 0; i < g_count; ++i) {
    if (g_cards[i] == r) index = i;
  }
  if (index < 0) return 0;
  if (r->serial_open) SERCloseComm(r);
  if (r->bus_open) BUSCloseComm(r);
  DPRShutdown(r);
  // Resources a failed open may have left (a port kept, a range claimed).
  ReleaseSlot(r->slot);
  ForgetOwedReplies(r);
  delete r;
  for (int i = index; i + 1 < g_count; ++i) g_cards[i] = g_cards[i + 1];
  g_cards[--g_count] = nullptr;
  *record = nullptr;
  return 1;
}

int POpenChannel(tagMCardInfo* record) {
  if (record == nullptr) return 0;
  switch (record->method) {
    case 0:
      if (record->bus_open) return 1;
      if (BUSInit(record)) return 1;
      if (record->serial_open) {
        record->method = 2;
      } else {
        record->connected = 0;
      }
      return 0;
    case 1:
      if (record->dpr_open) return 1;
      if (!record->bus_open && record->bus_type != 2) {
        if (!BUSInit(record)) {
          record->connected = 0;
          return 0;
        }
        record->connected = 1;
        record->method = 0;
      }
      DPRInit(record);
      if (record->dpr_open) {
        record->connected = 1;
        return 1;
      }
      record->connected = 0;
      return 0;
    case 2:
      if (!record->serial_open) {
        SERInit(record);
        if (record->serial_open) {
          record->connected = 1;
          return 1;
        }
        return 0;
      }
      if (!record->simulated) {
        if (record->connected) {
          SerialTransmit(record, 24);
        } else {
          record->last_error = 1006;
        }
      }
      PSendChar(record, 26);
      return 1;
    default:
      if (record->connected) {
        if (record->bus_open) record->method = 0;
        if (record->dpr_open) record->method = 1;
        if (record->serial_open) record->method = 2;
      }
      return 0;
  }
}

int PSetTimeout(tagMCardInfo* record, long timeout) {
  if (record == nullptr) return 0;
  record->timeout = static_cast<int32_t>(timeout);
  return 1;
}

long PGetLastError(tagMCardInfo* record) {
  if (record == nullptr || record->send_status == -1234) return GlobalError();
  return record->last_error;
}

long PGetLastGlobalError(void) { return GlobalError(); }

int PGetLastErrorString(tagMCardInfo* record, char* buffer, int size) {
  const long code = record != nullptr ? record->last_error : GlobalError();
  const char* text = ErrorText(code);
  const size_t capacity = size > 0 ? static_cast<size_t>(size) : 0;
  if (text == nullptr) {
    CopyText(buffer, capacity, record != nullptr ? "Unknown" : "Unknown?");
    return 0;
  }
  CopyText(buffer, capacity, text);
  return 1;
}

int PSetLastError(tagMCardInfo* record, long code) {
  SetError(record, code);
  return 1;
}

int PStoreState(const tagMCardInfo* image, const char* name) {
  if (image == nullptr || name == nullptr || name[0] == '\0') return 0;
  std::string path;
  if (!SettingsPath(name, &path)) return 0;
  std::FILE* f = std::fopen(path.c_str(), "r+b");
  if (f == nullptr) f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  const bool written = std::fwrite(image, 1, sizeof(tagMCardInfo), f) == sizeof(tagMCardInfo);
  const bool closed = std::fclose(f) == 0;
  return written && closed ? 1 : 0;
}

int PRestoreState(tagMCardInfo* image, const char* name) {
  if (image == nullptr || name == nullptr || name[0] == '\0') return 0;
  std::string path;
  if (!SettingsPath(name, &path)) return 0;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return 0;
  // A short file fills only the bytes it has.
  const size_t got = std::fread(image, 1, sizeof(tagMCardInfo), f);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) return 0;
  (void)got;
  return 1;
}

int PFirstTime(const char* name) {
  if (name == nullptr) return 0;
  std::string path;
  if (!SettingsPath(name, &path)) return 0;
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? 0 : 1;
}

char* szStripControlChar(char* text) {
  if (text == nullptr) return nullptr;
  char* out = text;
  for (char* p = text; *p != '\0'; ++p) {
    if (!IsCtrl(*p)) *out++ = *p;
  }
  *out = '\0';
  return text;
}

char* szStripWhiteSpace(char* text) {
  if (text == nullptr) return nullptr;
  char* out = text;
  for (char* p = text; *p != '\0'; ++p) {
    if (!IsCtrl(*p) && !std::isspace(static_cast<unsigned char>(*p))) *out++ = *p;
  }
  *out = '\0';
  return text;
}

}  // extern "C"
