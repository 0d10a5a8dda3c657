// One instruction word of the card's processor, decoded and run.
#pragma once

#include <cstdint>

#include "cardsim/dsp_core.h"

namespace zimo::cardsim {

struct DspExec {
  struct Flow {
    enum Kind { kNext, kJump, kCall, kReturn, kUnknown } kind = kNext;
    uint32_t length = 1;  // words of the instruction
    uint32_t target = 0;  // jump or call target
  };

  DspCore& core;
  uint32_t at;
  uint32_t word;

  Flow Run();
};

}  // namespace zimo::cardsim
