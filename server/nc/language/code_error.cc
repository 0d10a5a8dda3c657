#include "nc/language/code_error.h"

#include "nc/language/block_record.h"

namespace zimo::nc {

void CodeError(NcCardSide& card, unsigned cs, uint32_t line, uint32_t id,
               const NcInserts& inserts) {
  NcErrorReport report;
  report.id = id;
  report.mode = NcErrorMode::kFatal;
  report.type = NcErrorType::kCode;
  report.line = line;
  report.axis = kNoAxis;
  report.text = FormatNcMessage(id, inserts);
  card.RecordError(cs, report);
}

void CodeErrorWithBlock(NcCardSide& card, unsigned cs, uint32_t line, uint32_t id,
                        std::string_view line_text, bool without_text, NcBlockRecord* block) {
  if (without_text) {
    CodeError(card, cs, line, id);
  } else {
    NcErrorReport report;
    report.id = id;
    report.line = line;
    std::string_view text = line_text;
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n')) {
      text.remove_suffix(1);
    }
    report.text.assign(text);
    if (block != nullptr) SetComment(*block, text);
    card.RecordError(cs, report);
  }
  card.QueueCardLine(cs, kStopBlock);
}

}  // namespace zimo::nc
