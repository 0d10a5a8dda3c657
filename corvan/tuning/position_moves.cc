// The gantry parabolic program: motion program 999 moving two motors out
// and back together with PVT moves, written but neither gathered nor run.
#include "corvan/tuning_api.h"
#include "link/library_app.h"
#include "tuning/tuning.h"

namespace zimo::corvan::tuning {
namespace {

bool ValidMotor(int motor) { return motor >= 1 && motor <= 8; }

// Commanded-position register of a motor: the older map steps 60 words a
// motor from 40, the newer generation 128 from 136.
unsigned OlderPositionAddress(int motor) { return 40u + 60u * static_cast<unsigned>(motor - 1); }
unsigned NewerPositionAddress(int motor) { return 136u + 128u * static_cast<unsigned>(motor - 1); }

}  // namespace

int DoAGantryParabolic(CardCommandPath& path, int device, int card_type, int first, int second) {
  if (!ValidMotor(first) || !ValidMotor(second)) return 0;
  const bool newer = card_type >= 4;
  ProgramWriter w(path, device);
  w.Line("UNDEF ALL A &1");
  w.Line("#%d->X", first);
  w.Line("#%d->X", second);
  w.Line("M1017->*");
  w.Line("M0->X:0,24");
  if (newer) {
    w.Line("M1018->D:$%x", NewerPositionAddress(first));
    w.Line("M1008->D:$%x", NewerPositionAddress(second));
    w.Line("M1019->X:$0006,19");
    w.Line("M1021->X:$10F1,24");
    w.Line("M1022->X:$10F0,24");
  } else {
    w.Line("M1019->X:$0003,19");
    w.Line("M1020->X:$0003,18");
    w.Line("M1018->D:$00%x", OlderPositionAddress(first));
    w.Line("M1008->D:$00%x", OlderPositionAddress(second));
    w.Line("M1021->X:$07F1,24");
    w.Line("M1022->X:$07F0,24");
  }
  w.Line("M1016->L:$081F");
  w.Line("DELETE GATHER");
  w.Line("DELETE TRACE");
  w.Line("OPEN PROG 999 CLR");
  w.Line("PVT(P1022)");
  w.Line("M1019=1");
  w.Line(newer ? "TM(P1022)" : "M1020=1");
  w.Line("INC");
  w.Line("X(P1023):0");
  w.Line("X(-P1023):0");
  w.Line("DWE2");
  w.Line("DWE2");
  w.Line("M1019=0");
  w.Line("P1021=0");
  w.Line("LINEAR");
  w.Line("ABS");
  w.Line("CLS");
  // The marker says the program on the card is whole.
  w.Line("M1017=12345");
  return w.ok() ? 1 : 0;
}

}  // namespace zimo::corvan::tuning

extern "C" {

std::int32_t DoAGantryParabolic(std::uint32_t device, std::int16_t first, std::int16_t second) {
  using namespace zimo::corvan;
  const int d = IndexFromDeviceNumber(device);
  const SharedDeviceBlock* block = IsRealDevice(d) ? App().Block(d) : nullptr;
  return tuning::DoAGantryParabolic(LibraryCommandPath(), d, block != nullptr ? block->CardType : 0,
                                    first, second);
}

}  // extern "C"
