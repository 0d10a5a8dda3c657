// Recording code errors: the message of an id goes to the controller's error
// list as a fatal code error of the line being read.
#pragma once

#include <cstdint>
#include <string_view>

#include "nc/language/messages.h"
#include "nc/language/nc_types.h"

namespace zimo::nc {

struct NcBlockRecord;

// The stop block that ends the card's motion at a faulty block.
inline constexpr std::string_view kStopBlock = "BSTART STOP BSTOP";

void CodeError(NcCardSide& card, unsigned cs, uint32_t line, uint32_t id,
               const NcInserts& inserts = {});

// Records the error with the block's own text (also kept as the block's
// comment) or, with without_text, with the message of id; then queues the
// stop block so that the card stops at this point.
void CodeErrorWithBlock(NcCardSide& card, unsigned cs, uint32_t line, uint32_t id,
                        std::string_view line_text, bool without_text, NcBlockRecord* block);

}  // namespace zimo::nc
