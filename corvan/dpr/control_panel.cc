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

// A panel bit of system cs: bit `bit` of the DPR dword at `dword`.
std::int32_t SetBit(std::uint32_t device, std::int32_t cs, std::uint32_t dword, std::uint32_t bit,
                    std::int32_t value) {
  if (!PanelSystem(cs)) return 0;
  return ZimoDPRSetMemBit(device, dword, bit, value != 0 ? 1 : 0);
}

std::int32_t GetBit(std::uint32_t device, std::int32_t cs, std::uint32_t dword, std::uint32_t bit) {
  if (!PanelSystem(cs)) return 0;
  std::uint32_t v = 0;
  if (ZimoDPRGetMemBit(device, dword, bit, &v) == 0) return 0;
  return static_cast<std::int32_t>(v);
}

std::int32_t SetAction(std::uint32_t device, std::int32_t cs, int bit, std::int32_t value) {
  return SetBit(device, cs, ActionDword(cs), ActionBit(bit), value);
}
std::int32_t GetAction(std::uint32_t device, std::int32_t cs, int bit) {
  return GetBit(device, cs, ActionDword(cs), ActionBit(bit));
}

// The request and feed-override enable words hold system cs at bit cs - 1.
std::int32_t SetSystemBit(std::uint32_t device, std::uint32_t word, std::int32_t cs,
                          std::int32_t value) {
  return SetBit(device, cs, word, static_cast<std::uint32_t>(cs - 1), value);
}
std::int32_t GetSystemBit(std::uint32_t device, std::uint32_t word, std::int32_t cs) {
  return GetBit(device, cs, word, static_cast<std::uint32_t>(cs - 1));
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

// The action bits of each system's action byte: X(Name, bit).
#define ZIMO_PANEL_ACTIONS(X) \
  X(JogNeg, 0)                \
  X(JogPos, 1)                \
  X(JogReturn, 2)             \
  X(Run, 3)                   \
  X(Step, 4)                  \
  X(Stop, 5)                  \
  X(Home, 6)                  \
  X(Hold, 7)

// ZimoDPRSet<Name>Bit and ZimoDPRGet<Name>Bit of each action.
#define ZIMO_PANEL_ACTION(Name, bit)                                 \
  int32_t ZimoDPRSet##Name##Bit(uint32_t d, int32_t cs, int32_t v) { \
    return zimo::corvan::SetAction(d, cs, bit, v);                   \
  }                                                                  \
  int32_t ZimoDPRGet##Name##Bit(uint32_t d, int32_t cs) {            \
    return zimo::corvan::GetAction(d, cs, bit);                      \
  }
ZIMO_PANEL_ACTIONS(ZIMO_PANEL_ACTION)
#undef ZIMO_PANEL_ACTION
#undef ZIMO_PANEL_ACTIONS

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
