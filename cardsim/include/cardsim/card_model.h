// What kind of card the simulator plays: its identity answers ("TYPE",
// "VERSION", "DATE", "CPU", "LIST LINK"), its generation (older or SPRAN,
// which decides the memory map and the DPR layout) and its start-up state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zimo::cardsim {

struct CardModel {
  int type = 2;                         // card type code the host derives (1..9; 4 and above SPRAN)
  bool spran = false;                   // newer generation
  std::string type_text;                // the reply to "TYPE", e.g. "ZIMO2" or "SPRAN2"
  std::string version;                  // the reply to "VERSION"/"VER"
  std::string date;                     // the reply to "DATE"
  std::string cpu;                      // the reply to "CPU", e.g. "DSP56002"
  std::vector<std::string> link_list;   // "LIST LINK" entries, six hex digits each
  int motors = 8;                       // motors the card drives (1..32)
  uint32_t i10 = 3713707;               // servo interrupt time, I10 (1/8388608 ms units)
  uint32_t dpr_card_base = 0xD000;      // card address of the first DPR word
  uint32_t host_dpr_address = 0xD4000;  // ISA host address of the DPR (X:$786, X:$787)
  uint32_t i4900 = 0;             // SPRAN: I4900 (its last hex digit tells types 8 and 9 apart)
  uint64_t global_status = 0;     // "???" and CTRL-G: the two global status words
  bool hex_address_ivars = true;  // I9 bit 1 shows address I-variables as "$hex"
  bool bootstrap = false;         // starts in bootstrap mode
  std::string bootstrap_text = "BOOTSTRAP PROM";  // "?" reply while in bootstrap mode
  // A lab plant behind the DAC words and motors 1.. encoders (lab_plant.h):
  // "torsion3", "torsion2", "linear"; empty for none. Its damping is scaled
  // by plant_damping (0: undamped).
  std::string plant;
  double plant_damping = 1;

  // Variable counts of the generation: I, P, Q and M variables 0..n-1.
  int variable_count() const { return spran ? 8192 : 1024; }
  int coordinate_systems() const { return spran ? 16 : 8; }

  // An older-generation card: type 2 ("ZIMO2"), firmware 1.16F, DPR at
  // card $D000, 8 motors, a 68-entry link list.
  static CardModel Older();
  // A SPRAN card: type 6 ("SPRAN2"), DPR at card $60000, 32 motors.
  static CardModel Spran();
  // A SPRAN card of type 8: global status bit 16 set, I4900 ending in 0,
  // DPR base taken from I24.
  static CardModel SpranType8(uint32_t i24 = 0x6C000);
};

}  // namespace zimo::cardsim
