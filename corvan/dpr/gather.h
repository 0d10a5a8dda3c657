// The pieces of data gathering that need no card: decoding the card's
// gather listing into samples, and the gather file's layout with its
// checked reader.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "corvan/internal/shared_table.h"

namespace zimo::corvan {

// How a source's units are decoded, by the first letter of its name.
enum class GatherDecode : std::uint8_t {
  kSkip,     // a name without a known type letter: takes no units
  kWord24,   // X, Y: one 24-bit unit
  kFixed48,  // D: two units, the 48-bit fixed word
  kPair32,   // DP: two units, the 32-bit value in the low 16 bits of each
  kFloat48,  // L: two units, the 48-bit floating word
  kSingle,   // F: two units, an IEEE single split over them
};
GatherDecode DecodeForName(const char* name, std::size_t size);

// One enabled source of a sample, in source order; `out` is where its
// values go (null: decoded and dropped, as a source whose array is absent).
struct GatherColumn {
  GatherDecode decode = GatherDecode::kSkip;
  std::vector<double>* out = nullptr;
};

// The listing is a run of card words, 12 hexadecimal digits (the X half
// first) each followed by one separator. A sample's units are taken from
// the words' Y halves (digits 7-12) first, then their X halves; a two-unit
// source that starts on an X half ends on the next word's Y half; every
// sample starts on a new word. Fills out[0 .. samples) of each column and
// never reads past `length`. False when the text ends before the last
// sample is whole (the columns are then left zeroed).
bool DecodeGatherListing(const char* text, std::size_t length, std::uint32_t samples,
                         const std::vector<GatherColumn>& columns);

// Gather files: a 1720-byte header, then for each of sources 0-23 whose
// enabled value is not 0 the sample count's doubles, little-endian.
inline constexpr std::uint32_t kGatherFileHeaderSize = 1720;
inline constexpr int kGatherFileSources = 24;
inline constexpr std::size_t kGatherFileNameChars = 14;  // and a NUL

struct GatherFileContents {
  double sample_time = 0;
  std::uint32_t period = 0;
  std::uint32_t enable_mask = 0;
  std::uint32_t source_count = 0;
  std::uint32_t sample_count = 0;
  std::uint32_t words_per_sample = 0;
  std::array<std::uint32_t, kGatherFileSources> enabled{};
  std::array<std::array<char, kGatherSourceNameSize>, kGatherFileSources> names{};
  std::array<std::uint32_t, kGatherFileSources> words{};
  std::array<std::vector<double>, kGatherFileSources> samples;  // empty: no array
};

// The header bytes of `settings` (the first 24 sources).
std::array<std::uint8_t, kGatherFileHeaderSize> GatherFileHeader(const SharedDeviceBlock& settings);

// Reads a whole gather file from `file`, `file_size` bytes long. False for
// anything that is no whole gather file: a header size other than 1720, a
// short header, a sample count the file cannot hold, a short sample block.
// Each array read gets two spare zeros after its samples.
bool ReadGatherFileContents(std::FILE* file, std::uint64_t file_size, GatherFileContents* out);

}  // namespace zimo::corvan
