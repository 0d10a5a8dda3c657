#include "link/response_lines.h"

#include "corvan/command_api.h"

namespace zimo::corvan {
namespace {

// Room of the scratch line that looks behind a full buffer and drops the
// rest of a cut response.
constexpr std::uint32_t kScratchRoom = 256;
// A card streaming without end still lets the exchange go.
constexpr int kDrainLineLimit = 1 << 16;

bool EndsResponse(const LineRead& line) {
  return !line.cut && (line.status & kStatusAck) != 0;
}

// Reads and drops lines until one ends the response.
void DropRest(const LineReader& read, LineRead last) {
  char scratch[kScratchRoom + 1];
  for (int i = 0; i < kDrainLineLimit && !EndsResponse(last); ++i) {
    last = read(scratch, kScratchRoom);
  }
}

}  // namespace

CollectedResponse CollectResponseLines(const LineReader& read, char* buffer, std::uint32_t max) {
  CollectedResponse result;
  buffer[0] = 0;
  std::uint32_t position = 0;
  // Lines that store nothing and end nothing (unsolicited ones, a reader
  // that finds nothing): a channel that answers only those still lets the
  // exchange go.
  int idle_lines = 0;
  for (;;) {
    if (idle_lines++ >= kDrainLineLimit) {
      result.status = kStatusFailure;
      break;
    }
    if (position == max) {
      // The buffer is full: the response fitted only if its end comes next.
      char scratch[kScratchRoom + 1];
      const LineRead next = read(scratch, kScratchRoom);
      if (next.status == kStatusUnsolicited && !next.cut) continue;
      if (!next.cut && next.count == 0 && (next.status & kStatusAck) != 0 &&
          (next.status & kStatusMask) != kStatusCardError) {
        // Its end (or a time-out or failure that stored nothing more).
        result.status = next.status & kStatusMask;
        break;
      }
      DropRest(read, next);
      result.status = kStatusFailure;
      result.cut = true;
      break;
    }
    const LineRead line = read(buffer + position, max - position);
    if (line.status == kStatusUnsolicited && !line.cut) continue;
    if (line.count > 0) idle_lines = 0;
    position += line.count;
    if (line.cut) {
      DropRest(read, line);
      // A card error stays a card error, however much of its text fitted.
      const bool card_error = (line.status & kStatusMask) == kStatusCardError;
      result.status = card_error ? kStatusCardError : kStatusFailure;
      result.cut = !card_error;
      break;
    }
    if ((line.status & kStatusAck) != 0) {
      result.status = line.status & kStatusMask;
      break;
    }
  }
  buffer[position] = 0;
  result.stored = position;
  return result;
}

}  // namespace zimo::corvan
