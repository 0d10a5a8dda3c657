// The card's side of compiled PLC programs: what their firmware routines
// read and write (variables, enables, ring stations), and the commands
// they send, run after the cycle's passes like the text PLCs' commands.
#include <string>

#include "cardsim/interpreter.h"
#include "cardsim/plcc_runner.h"

namespace zimo::cardsim {

void Interpreter::AttachCompiledPlcs() {
  PlccCardAccess access;
  access.read = [this](char letter, int n) { return ReadVariable(letter, n).value_or(0.0); };
  access.write = [this](char letter, int n, double value) {
    if (vars_.Valid(n)) WriteVariable(letter, n, value);
  };
  access.read_q = [this](int cs, int n) { return vars_.Q(cs, n); };
  access.write_q = [this](int cs, int n, double value) { vars_.SetQ(cs, n, value); };
  access.q_base = [this](int cs) { return vars_.QBase(cs); };
  access.degrees = [this] { return vars_.I(15) == 0; };
  access.enable = [this](uint32_t mask, int kind) {
    if (kind >= 2) {
      plcc_->SetEnabled(mask, kind == 2);
      return;
    }
    SetPlcEnabled(kind == 0 ? (plc_enabled_ | mask) : (plc_enabled_ & ~mask));
  };
  access.ring_read = [this](int n) {
    auto it = ring_station_vars_.find(n);
    return it == ring_station_vars_.end() ? 0.0 : it->second;
  };
  access.ring_write = [this](int n, double value) {
    if (n >= 0 && n < 1024) ring_station_vars_[n] = value;
  };
  plcc_->Attach(std::move(access));
}

void Interpreter::CompiledPlcCycle(int i5) {
  writer_ = "PLCC";
  plcc_->Cycle(i5);
  for (PlccRunner::Command& c : plcc_->TakeCommands()) {
    writer_ = c.plc < 0 ? "CMD PLCC" : "CMD PLCC " + std::to_string(c.plc);
    int motor = c.motor, coord = c.coord;
    if (c.text.size() == 1 && static_cast<unsigned char>(c.text[0]) < 0x20) {
      std::swap(motor_, motor);
      std::swap(coord_, coord);
      Control(c.text[0]);
      std::swap(motor_, motor);
      std::swap(coord_, coord);
    } else {
      RunInProgram(c.text, motor, coord, false);
    }
  }
}

}  // namespace zimo::cardsim
