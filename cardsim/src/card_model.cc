#include "cardsim/card_model.h"

#include <cstdio>

namespace zimo::cardsim {

namespace {
// Plausible firmware routine addresses: all below $10000, as the PLC
// compiler requires.
std::vector<std::string> DefaultLinkList() {
  std::vector<std::string> list;
  for (int i = 0; i < 68; ++i) {
    char entry[8];
    std::snprintf(entry, sizeof entry, "%06X", 0x0C00 + 0x2D * i);
    list.emplace_back(entry);
  }
  return list;
}
}  // namespace

CardModel CardModel::Older() {
  CardModel m;
  m.type = 2;
  m.spran = false;
  m.type_text = "ZIMO2";
  m.version = "1.16F";
  m.date = "09/22/1998";
  m.cpu = "DSP56002";
  m.link_list = DefaultLinkList();
  m.motors = 8;
  m.i10 = 3713707;
  m.dpr_card_base = 0xD000;
  m.hex_address_ivars = true;
  return m;
}

CardModel CardModel::Spran() {
  CardModel m;
  m.type = 6;
  m.spran = true;
  m.type_text = "SPRAN2";
  m.version = "1.940";
  m.date = "05/14/2003";
  m.cpu = "DSP56303";
  m.link_list = DefaultLinkList();
  m.motors = 32;
  m.i10 = 3713707;
  m.dpr_card_base = 0x60000;
  m.i4900 = 0x1F1F1;
  m.global_status = 0;
  m.hex_address_ivars = true;
  return m;
}

CardModel CardModel::SpranType8(uint32_t i24) {
  CardModel m = Spran();
  m.type = 8;
  m.dpr_card_base = i24;
  m.i4900 = 0x1F1F0;
  m.global_status = uint64_t{1} << 16;
  return m;
}

}  // namespace zimo::cardsim
