// Fuzz target: the block reader on one line, twice on the same record (the
// modal state carried over). Counts stay within the record's bounds and
// every recorded error is in the message table.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_replay.h"
#include "nc/language/messages.h"
#include "nc/translator/block_reader.h"
#include "nc_fakes.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::string line(reinterpret_cast<const char*>(data + 1), size - 1);
  static const zimo::nc::NcGroupTable mill = zimo::nc::DefaultGroupTable(1);
  static const zimo::nc::NcGroupTable lathe = [] {
    zimo::nc::NcGroupTable t = zimo::nc::DefaultGroupTable(2);
    t.machine = 2;
    t.uvw_incremental = true;
    return t;
  }();
  zimo::nc::testing::FakeCardSide card;
  zimo::nc::testing::FakeVariables variables;
  variables.values[1] = 2.0;
  zimo::nc::NcBlockContext context;
  context.table = (data[0] & 1) != 0 ? &lathe : &mill;
  context.card = &card;
  context.env = &variables;
  zimo::nc::NcBlockRecord record;
  zimo::nc::NcBlockRecord previous;
  zimo::nc::InitBlockRecord(record, *context.table);
  for (int pass = 0; pass < 2; ++pass) {
    zimo::nc::StartBlock(record, &previous);
    zimo::nc::ParseWords(context, record, line.c_str());
    Check(record.m_count <= static_cast<uint32_t>(zimo::nc::kMaxMWords));
    Check(std::char_traits<char>::length(record.comment) < zimo::nc::kCommentCapacity);
  }
  for (const auto& e : card.errors) Check(zimo::nc::NcMessageText(e.id) != nullptr);
  return 0;
}
