// What the card's firmware loader keeps of a new image, and the faults a
// test can give it. Words are 24 bits. They arrive whole (port registers),
// high byte first (serial line) or low byte first in blocks (USB, Ethernet),
// where a block may end inside a word.
//
// The end of an image cannot be read from the data: a word 0x120000 over the
// port registers looks like the CTRL-R that ends the image, and a serial
// image may hold 0x12 bytes. When the image length is configured, the image
// ends once that many bytes are in; only then is CTRL-R taken as CTRL-R.
// Without a configured length the older rule holds (see README.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

namespace zimo::cardsim {

struct Reply;

class FirmwareImage {
 public:
  // A new image: what was kept is dropped.
  void Start();
  // One whole word from the port registers.
  void AddWord(uint32_t word);
  // One serial byte; three make a word, high byte first.
  void AddSerialByte(uint8_t byte);
  // A USB or Ethernet block, low byte first; `first_block` starts a new image.
  void AddBlock(std::string_view bytes, bool first_block);

  std::vector<uint32_t> words() const;
  // The blocks of the current image as they came: first-block flag and size.
  struct Block {
    bool first = false;
    std::size_t size = 0;
    bool operator==(const Block&) const = default;
  };
  std::vector<Block> blocks() const;
  // Bytes received for the image, a partial word included.
  std::size_t bytes() const;

  // The configured image length in bytes; 0 when the card is not told.
  void set_expected_bytes(std::size_t bytes);
  std::size_t expected_bytes() const;
  // True when a length is configured and that many bytes are in.
  bool Complete() const;

  // Faults. The card stays in bootstrap mode after CTRL-R.
  void set_stay_in_bootstrap(bool on);
  bool stay_in_bootstrap() const;
  // The status reply ("?") after the image starts with 0xFF (a tripped
  // watchdog).
  void set_watchdog_reply(bool on);
  // Applies the watchdog fault to the reply of `line`.
  void ShapeReply(std::string_view line, Reply& reply) const;

 private:
  void AddByteLocked(uint8_t byte, bool high_first);

  mutable std::mutex mu_;
  std::vector<uint32_t> words_;
  std::vector<Block> blocks_;
  uint32_t partial_ = 0;
  int partial_count_ = 0;
  std::size_t expected_bytes_ = 0;
  bool stay_in_bootstrap_ = false;
  bool watchdog_reply_ = false;
};

}  // namespace zimo::cardsim
