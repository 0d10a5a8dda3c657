// The card's variable background service and its write buffer, both run
// by the background loop once per servo cycle after the fixed buffers.
//
// Variable background, while I55 = 1 and the entry count word is not 0:
// the address list starts at the start word (older cards: a card address
// in the DPR; SPRAN cards: a word offset from DPR word 0x450) and holds
// `count` address words; the data follows the list, one word per entry,
// two for a pair, in list order. Address word: older bits 0-15 the
// address, bit 16 a pair (L: X:Y), bit 17 the X word (else Y); SPRAN bits
// 0-19 the address, bit 20 a pair, bit 21 the X word; bit 31 the ready
// flag. A one-word entry's data is its 24-bit word sign-extended to 32
// bits; a pair's is the lower (Y) word in bits 0-23 of the first data word
// and the upper (X) word sign-extended in the second.
//
// Two ways to hand the data over:
// - Handshake word: the card sets the handshake word to 1, writes the
//   whole data block in one access of the window, stamps the servo timer
//   and sets the word back to 0. The word is non-zero only while the card
//   writes, so a host that reads while it is 0 gets one whole block.
// - Ready flags, once the host has asked for them by writing 256 into the
//   handshake word (the card answers by writing 0 there; they stay chosen
//   until I55 goes to 0): for each entry whose bit 31 is clear, in list
//   order, the card writes its data and then sets the bit; entries the host
//   has not taken yet keep their data.
//
// Write buffer, while the background loop runs (I49 = 1 or I55 = 1): when
// the control word holds n (1 to 32), the card applies the n 12-byte
// entries at the start word (older: a card address; SPRAN: a word offset
// from DPR word 0x450), in order, then writes 0 into the control word. An
// entry: address word, then two data words. The address word is read as a
// variable background entry's (so the host's type, shifted by 16 on older
// cards and by 19 on SPRAN cards, is 1 or 2 for a pair and 2 or 4 for the X
// word). A one-word entry writes the low 24 bits of the first data word; a
// pair writes the first data word's low 24 bits as Y and the second's as X.
// A count above 32 is taken as nothing to write.
#include <vector>

#include "cardsim/card_word.h"
#include "cardsim/interpreter.h"

namespace zimo::cardsim {

namespace {

struct BackgroundWords {
  size_t write_control, write_start;
  size_t handshake, servo_timer, entry_count, start;
  uint32_t address_mask;
  int pair_bit, x_bit;
};

constexpr BackgroundWords kOlder{0x7D4, 0x7D6, 0x7E8, 0x7EA, 0x7EC, 0x7EE, 0xFFFF, 16, 17};
constexpr BackgroundWords kSpran{0x104C, 0x104E, 0x1044, 0x1046, 0x1048, 0x104A, 0xFFFFF, 20, 21};

constexpr uint32_t kSpranFixedWords = 0x450;  // SPRAN start words count from here
constexpr uint16_t kReadyFlagsRequest = 256;
constexpr uint32_t kReadyFlag = 0x80000000u;
constexpr uint16_t kMaxWriteEntries = 32;

// Word offset in the window of a start word the host wrote; -1 when it
// lies outside.
int64_t StartWord(bool spran, uint16_t start, uint32_t dpr_base) {
  int64_t word = spran ? int64_t{start} + kSpranFixedWords : int64_t{start} - int64_t{dpr_base};
  return word >= 0 && word < int64_t{Memory::kDprWords} ? word : -1;
}

}  // namespace

void Interpreter::BackgroundLoopCycle() {
  const BackgroundWords& w = model_.spran ? kSpran : kOlder;
  Memory& m = memory_;
  const bool variable_on = vars_.I(55) == 1;
  if (!variable_on) vbg_ready_flags_ = false;

  if (variable_on && m.DprWord(w.entry_count) != 0) {
    if (m.DprWord(w.handshake) == kReadyFlagsRequest) {
      vbg_ready_flags_ = true;
      m.SetDprWord(w.handshake, 0);
    }
    const uint32_t count = m.DprWord(w.entry_count);
    const int64_t start = StartWord(model_.spran, m.DprWord(w.start), m.dpr_card_base());
    if (start >= 0 && start + count <= Memory::kDprWords) {
      std::vector<uint32_t> list(count);
      m.ReadDpr(static_cast<size_t>(start) * 4, list.data(), 4 * list.size());
      std::vector<uint32_t> data;
      for (uint32_t entry : list) {
        const uint32_t address = entry & w.address_mask;
        if ((entry >> w.pair_bit) & 1u) {
          const uint64_t pair = m.ReadPair(address);
          data.push_back(static_cast<uint32_t>(pair & word::kMask24));
          data.push_back(static_cast<uint32_t>(
              word::SignExtend24(static_cast<uint32_t>((pair >> 24) & word::kMask24))));
        } else {
          const Space space = ((entry >> w.x_bit) & 1u) != 0 ? Space::kX : Space::kY;
          data.push_back(static_cast<uint32_t>(word::SignExtend24(m.Read(space, address))));
        }
      }
      const size_t data_at = (static_cast<size_t>(start) + count) * 4;
      if (data_at / 4 + data.size() <= Memory::kDprWords) {
        if (vbg_ready_flags_) {
          size_t k = 0;
          for (size_t i = 0; i < list.size(); ++i) {
            const size_t words = ((list[i] >> w.pair_bit) & 1u) != 0 ? 2 : 1;
            const size_t entry_at = static_cast<size_t>(start + static_cast<int64_t>(i)) * 4;
            // The host may have taken the entry since the list was read.
            if ((m.DprDword(entry_at) & kReadyFlag) == 0) {
              m.WriteDpr(data_at + 4 * k, data.data() + k, 4 * words);
              m.SetDprDword(entry_at, m.DprDword(entry_at) | kReadyFlag);
            }
            k += words;
          }
        } else {
          m.SetDprWord(w.handshake, 1);
          m.WriteDpr(data_at, data.data(), 4 * data.size());
        }
        m.SetDprWord(w.servo_timer, static_cast<uint16_t>(dpr_cycles_ & 0xFFFF));
        if (!vbg_ready_flags_) m.SetDprWord(w.handshake, 0);
      }
    }
  }

  if (!variable_on && vars_.I(49) != 1) return;
  const uint16_t entries = m.DprWord(w.write_control);
  if (entries == 0) return;
  const int64_t start = StartWord(model_.spran, m.DprWord(w.write_start), m.dpr_card_base());
  const uint32_t taken = entries <= kMaxWriteEntries ? entries : 0;
  if (start >= 0 && start + 3 * int64_t{taken} <= Memory::kDprWords) {
    std::vector<uint32_t> block(3 * size_t{taken});
    m.ReadDpr(static_cast<size_t>(start) * 4, block.data(), 4 * block.size());
    for (size_t e = 0; e < taken; ++e) {
      const uint32_t entry = block[3 * e];
      const uint32_t address = entry & w.address_mask;
      if ((entry >> w.pair_bit) & 1u) {
        const uint64_t low = block[3 * e + 1] & word::kMask24;
        const uint64_t high = block[3 * e + 2] & word::kMask24;
        m.WritePair(address, (high << 24) | low);
      } else {
        const Space space = ((entry >> w.x_bit) & 1u) != 0 ? Space::kX : Space::kY;
        m.Write(space, address, block[3 * e + 1] & word::kMask24);
      }
    }
  }
  m.SetDprWord(w.write_control, 0);
}

}  // namespace zimo::cardsim
