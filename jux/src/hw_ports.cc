// The port-I/O helper driver's session: port ranges claimed for the
// process, and single port accesses, each one request to the driver.
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

#include "channels.h"
#include "internal.h"
#include "platform/clock.h"
#include "platform/device_io.h"
#include "platform/file_mapping.h"

struct HwPortRangeRec {
  int32_t range = -1;  // the driver's range number; -1: none
  uint32_t word1 = 0;  // kept from the driver's reply
};

namespace jux {
namespace {

namespace p = zimo::platform;

constexpr char kDevice[] = "\\\\.\\_Default";
constexpr uint32_t kSessionInfo = 0xF003BC0C;
constexpr uint32_t kClaimRange = 0xF003BBDC;
constexpr uint32_t kReleaseRange = 0xF003BBE0;
constexpr uint32_t kPortAccess = 0xF003BBC4;
constexpr uint32_t kCloseSession = 0xF003BBE8;
constexpr uint32_t kMapMemory = 0xF003BBCC;
constexpr uint32_t kUnmapMemory = 0xF003BBD0;
constexpr size_t kListSize = 396;  // a header and room for 32 entries of 12 bytes

struct Session {
  std::mutex mu;
  p::DeviceFile device;
  uint32_t id = 0;
  bool holds_range0 = false;
  uint8_t list[kListSize] = {};
  uint32_t entries = 0;
};

std::mutex g_process_mu;
std::unique_ptr<Session> g_session;

// At unload the session is closed in the driver (its own port range
// released first, when it holds one).
struct SessionCloser {
  ~SessionCloser() {
    std::lock_guard lock(g_process_mu);
    if (!g_session || !g_session->device.is_open()) return;
    Session& s = *g_session;
    {
      // Released before the session goes: the lock lives inside it.
      std::lock_guard session_lock(s.mu);
      uint8_t in[8] = {};
      std::memcpy(in, &s.id, 4);
      if (s.holds_range0) s.device.DeviceIoControl(kReleaseRange, in, sizeof(in), nullptr, 0);
      s.device.DeviceIoControl(kCloseSession, in, 4, nullptr, 0);
    }
    g_session.reset();
  }
} g_session_closer;

void Put(uint8_t* at, uint32_t v) { std::memcpy(at, &v, 4); }
uint32_t Get(const uint8_t* at) {
  uint32_t v;
  std::memcpy(&v, at, 4);
  return v;
}

// The helper's device. When it cannot be opened the driver is started; the
// driver host then needs a moment before it serves the device, so the open
// is tried again for a while (on the current clock).
std::optional<p::DeviceFile> OpenDevice() {
  auto device = p::DeviceFile::Open(kDevice);
  if (!device.ok() && HwStartDriver()) {
    p::Clock& clock = p::CurrentClock();
    const auto deadline = clock.Now() + std::chrono::seconds(10);
    for (;;) {
      device = p::DeviceFile::Open(kDevice);
      if (device.ok() || clock.Now() >= deadline) break;
      clock.Sleep(std::chrono::milliseconds(20));
    }
  }
  if (!device.ok()) return std::nullopt;
  return std::move(*device);
}

Session* OpenSession() {
  std::lock_guard lock(g_process_mu);
  // A session whose driver went away (its host ended) is opened anew.
  if (g_session && g_session->device.is_open()) return g_session.get();
  if (g_session) {
    // Waits for a running access; the lock is released before the session
    // (which holds it) goes.
    { std::lock_guard session_lock(g_session->mu); }
    g_session.reset();
  }
  auto session = std::make_unique<Session>();
  auto device = OpenDevice();
  if (!device) return nullptr;
  session->device = std::move(*device);
  session->id = 0;
  uint8_t in[48] = {};
  uint8_t out[76] = {};
  Put(in, session->id);
  const p::IoControlResult r =
      session->device.DeviceIoControl(kSessionInfo, in, sizeof(in), out, sizeof(out));
  if (!r.ok || r.bytes_returned != sizeof(out)) return nullptr;
  session->holds_range0 = Get(out + 8) != 0;
  g_session = std::move(session);
  return g_session.get();
}

// Sends the request list as it stands; the entry count starts anew after.
bool Execute(Session& s, uint32_t* value) {
  const uint32_t size = (s.entries + 1) * 12;
  Put(s.list, s.id);
  Put(s.list + 4, 0);
  Put(s.list + 8, s.entries);
  bool ok = false;
  for (;;) {
    const p::IoControlResult r = s.device.DeviceIoControl(kPortAccess, s.list, size, s.list, size);
    if (!r.ok || r.bytes_returned != size) break;
    if (Get(s.list + 4) != 0) continue;  // the driver asks for the same request again
    if (value != nullptr && s.entries > 0) *value = Get(s.list + 12 * s.entries + 4);
    ok = true;
    break;
  }
  s.entries = 0;
  return ok;
}

bool Access(HwPortRange range, unsigned long offset, uint8_t op, uint32_t* value) {
  if (range == nullptr || range->range < 0 || offset > 0xFFFF) return false;
  Session* s = g_session.get();
  if (s == nullptr) return false;
  std::lock_guard lock(s->mu);
  uint8_t* entry = s->list + 12 * (s->entries + 1);
  entry[0] = static_cast<uint8_t>(range->range);
  entry[1] = op;
  const uint16_t port = static_cast<uint16_t>(offset);
  std::memcpy(entry + 2, &port, 2);
  Put(entry + 4, op >= 8 ? *value : 0);
  // The driver cannot write into this process: read values come back in the
  // entry's value field, and the address word stays 0.
  Put(entry + 8, 0);
  ++s->entries;
  return Execute(*s, value);
}

}  // namespace

// A card slot's DPR window: the driver's token and this process's view.
struct HwMapping {
  uint32_t token = 0;
  p::FileMapping view;
};

uint8_t* HwMapMemory(void** mapping, uint32_t physical, uint32_t size, uint32_t* token) {
  HwUnmapMemory(mapping);
  auto device = OpenDevice();
  if (!device) return nullptr;
  uint8_t in[20] = {};
  uint8_t out[16] = {};
  Put(in, 1);
  Put(in + 8, physical);
  Put(in + 12, size);
  const p::IoControlResult r =
      device->DeviceIoControl(kMapMemory, in, sizeof(in), out, sizeof(out));
  if (!r.ok || r.bytes_returned != sizeof(out) || Get(out + 4) == 0) return nullptr;
  auto m = std::make_unique<HwMapping>();
  m->token = Get(out + 4);
  char name[32];
  std::snprintf(name, sizeof(name), "ZimoIsaDpr%05X", m->token);
  auto view = p::FileMapping::Open(name);
  if (!view.ok() || view->size() < size) {
    Put(in, m->token);
    device->DeviceIoControl(kUnmapMemory, in, 4, nullptr, 0);
    return nullptr;
  }
  m->view = std::move(*view);
  *token = m->token;
  uint8_t* address = static_cast<uint8_t*>(m->view.data());
  *mapping = m.release();
  return address;
}

int HwUnmapMemory(void** mapping) {
  auto* m = static_cast<HwMapping*>(*mapping);
  if (m == nullptr) return 1;
  *mapping = nullptr;
  int result = 0;
  if (auto device = OpenDevice()) {
    uint8_t in[4];
    Put(in, m->token);
    result = device->DeviceIoControl(kUnmapMemory, in, sizeof(in), nullptr, 0).ok ? 1 : 0;
  }
  delete m;
  return result;
}

}  // namespace jux

extern "C" {

HwPortRange HwNewPortRange(unsigned long first, unsigned long count) {
  auto range = std::make_unique<HwPortRangeRec>();
  jux::Session* s = jux::OpenSession();
  if (s == nullptr) return nullptr;
  std::lock_guard lock(s->mu);
  uint8_t in[20] = {};
  uint8_t out[16] = {};
  jux::Put(in, s->id);
  jux::Put(in + 4, 1);
  jux::Put(in + 8, 0);
  jux::Put(in + 12, static_cast<uint32_t>(first));
  jux::Put(in + 16, static_cast<uint32_t>(count));
  const zimo::platform::IoControlResult r =
      s->device.DeviceIoControl(jux::kClaimRange, in, sizeof(in), out, sizeof(out));
  if (r.ok && r.bytes_returned == sizeof(out) && jux::Get(out) != 0) {
    range->range = static_cast<int32_t>(jux::Get(out + 12));
    range->word1 = jux::Get(out + 4);
    return range.release();
  }
  if (range->range >= 0) {
    uint8_t release[8];
    jux::Put(release, s->id);
    jux::Put(release + 4, static_cast<uint32_t>(range->range));
    s->device.DeviceIoControl(jux::kReleaseRange, release, sizeof(release), nullptr, 0);
  }
  return nullptr;
}

unsigned char HwInp(HwPortRange range, unsigned long offset) {
  uint32_t value = 0;
  return jux::Access(range, offset, 1, &value) ? static_cast<unsigned char>(value) : 0;
}

int HwOutp(HwPortRange range, unsigned long offset, unsigned char value) {
  uint32_t v = value;
  return jux::Access(range, offset, 8, &v) ? 1 : 0;
}

int HwDeletePort(HwPortRange range) {
  if (range == nullptr) return 1;
  jux::Session* s = jux::g_session.get();
  if (range->range >= 0 && s != nullptr) {
    std::lock_guard lock(s->mu);
    uint8_t release[8];
    jux::Put(release, s->id);
    jux::Put(release + 4, static_cast<uint32_t>(range->range));
    s->device.DeviceIoControl(jux::kReleaseRange, release, sizeof(release), nullptr, 0);
  }
  delete range;
  return 1;
}

}  // extern "C"
