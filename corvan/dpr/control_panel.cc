// The DPR control panel: the switch that turns the card's panel function on
// and off, and the request, action and feed-override fields of each
// coordinate system, each one raw DPR access.
#include "corvan/panel_api.h"

#include "corvan/bus_api.h"
#include "corvan/command_api.h"
#include "corvan/dpr_api.h"
#include "link/library_app.h"

namespace zimo::corvan {
namespace {

constexpr std::uint32_t kRequestWord = 0x000;
constexpr std::uint32_t kFeedEnableWord = 0x002;
constexpr int kPanelSystems = 8;

bool PanelSystem(std::int32_t cs) { return cs >= 1 && cs <= kPanelSystems; }

// The action byte of system cs is byte 4 cs + 1. Its bits are reached
// through the aligned dword at 4 cs (the byte is that dword's bits 8-15),
// so a write never rewrites bytes beyond the system's own four, not even
// for system 8, whose byte 33 is three bytes short of the real-time buffer.
std::uint32_t ActionDword(std::int32_t cs) { return 4u * static_cast<std::uint32_t>(cs); }
std::uint32_t ActionBit(int bit) { return 8u + static_cast<std::uint32_t>(bit); }

std::int32_t SetAction(std::uint32_t device, std::int32_t cs, int bit, std::int32_t value) {
  if (!PanelSystem(cs)) return 0;
  return ZimoDPRSetMemBit(device, ActionDword(cs), ActionBit(bit), value != 0 ? 1 : 0);
}

std::int32_t GetAction(std::uint32_t device, std::int32_t cs, int bit) {
  if (!PanelSystem(cs)) return 0;
  std::uint32_t v = 0;
  if (ZimoDPRGetMemBit(device, ActionDword(cs), ActionBit(bit), &v) == 0) return 0;
  return static_cast<std::int32_t>(v);
}

std::int32_t SetSystemBit(std::uint32_t device, std::uint32_t word, std::int32_t cs,
                          std::int32_t value) {
  if (!PanelSystem(cs)) return 0;
  return ZimoDPRSetMemBit(device, word, static_cast<std::uint32_t>(cs - 1), value != 0 ? 1 : 0);
}

std::int32_t GetSystemBit(std::uint32_t device, std::uint32_t word, std::int32_t cs) {
  if (!PanelSystem(cs)) return 0;
  std::uint32_t v = 0;
  if (ZimoDPRGetMemBit(device, word, static_cast<std::uint32_t>(cs - 1), &v) == 0) return 0;
  return static_cast<std::int32_t>(v);
}

}  // namespace
}  // namespace zimo::corvan

extern "C" {

int32_t ZimoDPRControlPanel(uint32_t device, int32_t on) {
  using namespace zimo::corvan;
  const int d = IndexFromDeviceNumber(device);
  if (!IsRealDevice(d)) return 0;
  SharedDeviceBlock* block = App().Block(d);
  if (block == nullptr) return 0;
  const char* line = on == 1 ? "i2=3" : "i2=1";
  // Cards on a bus take the line on their bus channel; elsewhere (Ethernet,
  // where no driver handle exists) it goes through the command path.
  const std::uint32_t where = block->Location;
  if (where == kLocationIsa || where == kLocationPci || where == kLocationUsb) {
    ZimoBUSSendCommandA(device, line);
  } else {
    ZimoSendCommandA(device, line);
  }
  block->ControlPanelOn = on == 1 ? 1 : 0;
  return block->ControlPanelOn;
}

int32_t ZimoDPRSetJogNegBit(uint32_t d, int32_t cs, int32_t v) {
  return zimo::corvan::SetAction(d, cs, 0, v);
}
int32_t ZimoDPRSetJogPosBit(uint32_t d, int32_t cs, int32_t v) {
  return zimo::corvan::SetAction(d, cs, 1, v);
}
int32_t ZimoDPRSetJogReturnBit(uint32_t d, int32_t cs, int32_t v) {
  return zimo::corvan::SetAction(d, cs, 2, v);
}
int32_t ZimoDPRSetRunBit(uint32_t d, int32_t cs, int32_t v) {
  return zimo::corvan::SetAction(d, cs, 3, v);
}
int32_t ZimoDPRSetStepBit(uint32_t d, int32_t cs, int32_t v) {
  return zimo::corvan::SetAction(d, cs, 4, v);
}
int32_t ZimoDPRSetStopBit(uint32_t d, int32_t cs, int32_t v) {
  return zimo::corvan::SetAction(d, cs, 5, v);
}
int32_t ZimoDPRSetHomeBit(uint32_t d, int32_t cs, int32_t v) {
  return zimo::corvan::SetAction(d, cs, 6, v);
}
int32_t ZimoDPRSetHoldBit(uint32_t d, int32_t cs, int32_t v) {
  return zimo::corvan::SetAction(d, cs, 7, v);
}

int32_t ZimoDPRGetJogNegBit(uint32_t d, int32_t cs) { return zimo::corvan::GetAction(d, cs, 0); }
int32_t ZimoDPRGetJogPosBit(uint32_t d, int32_t cs) { return zimo::corvan::GetAction(d, cs, 1); }
int32_t ZimoDPRGetJogReturnBit(uint32_t d, int32_t cs) { return zimo::corvan::GetAction(d, cs, 2); }
int32_t ZimoDPRGetRunBit(uint32_t d, int32_t cs) { return zimo::corvan::GetAction(d, cs, 3); }
int32_t ZimoDPRGetStepBit(uint32_t d, int32_t cs) { return zimo::corvan::GetAction(d, cs, 4); }
int32_t ZimoDPRGetStopBit(uint32_t d, int32_t cs) { return zimo::corvan::GetAction(d, cs, 5); }
int32_t ZimoDPRGetHomeBit(uint32_t d, int32_t cs) { return zimo::corvan::GetAction(d, cs, 6); }
int32_t ZimoDPRGetHoldBit(uint32_t d, int32_t cs) { return zimo::corvan::GetAction(d, cs, 7); }

int32_t ZimoDPRSetRequestBit(uint32_t d, int32_t cs, int32_t v) {
  return zimo::corvan::SetSystemBit(d, zimo::corvan::kRequestWord, cs, v);
}
int32_t ZimoDPRGetRequestBit(uint32_t d, int32_t cs) {
  return zimo::corvan::GetSystemBit(d, zimo::corvan::kRequestWord, cs);
}
int32_t ZimoDPRSetFOEnableBit(uint32_t d, int32_t cs, int32_t v) {
  return zimo::corvan::SetSystemBit(d, zimo::corvan::kFeedEnableWord, cs, v);
}
int32_t ZimoDPRGetFOEnableBit(uint32_t d, int32_t cs) {
  return zimo::corvan::GetSystemBit(d, zimo::corvan::kFeedEnableWord, cs);
}

void ZimoDPRSetFOValue(uint32_t d, int32_t cs, uint16_t value) {
  if (!zimo::corvan::PanelSystem(cs)) return;
  ZimoDPRSetWord(d, 4u * static_cast<uint32_t>(cs) + 2, value);
}

uint16_t ZimoDPRGetFOValue(uint32_t d, int32_t cs) {
  if (!zimo::corvan::PanelSystem(cs)) return 0;
  return ZimoDPRGetWord(d, 4u * static_cast<uint32_t>(cs) + 2);
}

}  // extern "C"
