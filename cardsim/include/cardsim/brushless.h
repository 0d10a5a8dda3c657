// Each motor's brushless side, as the set-up tests see it: three phase
// commands make a stator field, a simple rotor turns to the field's
// electrical angle with a lag, and the rotor shows in the commutation word
// X:Ixx83 (its encoder, in counts) and in the Hall bits 20-22 of
// X:(Ixx02 - 2). The phase commands are the three output words Y:Ixx02 to
// Ixx02 + 2 (bits 8-23, signed) or, while the motor is activated,
// commutated (Ixx01 != 0) and in open loop, the phase offsets Ixx79 (phase
// A) and Ixx29 (phase B). On older cards the two driven phase currents of
// the motor are read on channel c = (Ixx82 - 49150) / 8 - 1 at X:$710 + c
// (phase A) and Y:$710 + c (phase B), bits 8-23, signed.
//
// This rotor is not the servo loop's plant (motors.h): the servo's
// position and the commutation word are separate.
#pragma once

#include <cstdint>
#include <vector>

#include "cardsim/card_model.h"
#include "cardsim/memory.h"
#include "cardsim/motors.h"
#include "cardsim/script.h"
#include "cardsim/variables.h"

namespace zimo::cardsim {

class Brushless {
 public:
  static constexpr uint32_t kPhaseCurrentWords = 0x710;  // X and Y, one pair a channel
  static constexpr int kPhaseCurrentChannels = 16;

  Brushless(const CardModel& model, Variables& vars, Memory& memory, const Motors& motors,
            const Script& script);

  // One servo cycle of dt_ms: the rotors turn, the words are published.
  void Cycle(double dt_ms);

  // Scripting: put a rotor at an electrical angle (degrees); its encoder
  // keeps its count.
  void Place(int motor, double electrical_deg);
  // The rotor's electrical angle, 0 to 360 degrees, and its encoder count.
  double ElectricalAngle(int motor) const;
  double EncoderCounts(int motor) const;

  // The channel an Ixx82 value selects, or -1 when it selects none.
  static int PhaseCurrentChannel(double ixx82);

 private:
  struct Rotor {
    double angle = 0;   // electrical, degrees, 0..360
    double counts = 0;  // the encoder
  };
  struct Phases {
    double a = 0, b = 0, c = 0;
  };
  double I(int motor, int k) const;
  Phases Commands(int motor) const;
  void Turn(int motor, Rotor& rotor, const Phases& p, double dt_ms);
  void Publish(int motor, const Rotor& rotor);
  void PublishCurrents();
  void WriteIfChanged(Space space, uint32_t address, uint32_t value);
  void Reread();

  const CardModel& model_;
  Variables& vars_;
  Memory& memory_;
  const Motors& motors_;
  const Script& script_;
  std::vector<Rotor> rotors_;
  std::vector<Phases> phases_;  // this cycle's phase commands, per motor
  uint64_t version_ = ~uint64_t{0};
  std::vector<RotorScript> rotor_settings_;
  std::vector<PhaseCurrentScript> channel_settings_;
};

}  // namespace zimo::cardsim
