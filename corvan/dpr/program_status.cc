// The card's program tables read with memory-read commands: the address
// range of one motion program or PLC, and the status of all interpreted
// and compiled PLCs. Each export holds the command lock for all its reads,
// so no other client's command lands between them.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/program_info_api.h"
#include "dpr/command_lock.h"
#include "dpr/hex_text.h"
#include "link/library_app.h"
#include "platform/message.h"

namespace zimo::corvan {
namespace {

constexpr char kErrorCaption[] = "Error Communicating to ZIMO!";
constexpr int kPlcs = 32;

struct Tables {
  std::uint32_t program_table;  // end of motion program n at + n, of PLC n at + 256 + n
  std::uint32_t program_zero;   // where motion program 0 starts
  std::uint32_t plc_table;      // the PLC status table: 32 ends, the previous end below
  std::uint32_t enable_word;    // X word with the PLC enable bits
  std::uint32_t mask;           // address mask
};
constexpr Tables kSpranTables{0x9000, 0x9600, 0x3100, 0x26, 0x7FFFF};
constexpr Tables kOlderTables{0xE00, 0x1800, 0xF00, 0x1, 0xFFFF};
constexpr std::uint32_t kPlcPart = 256;

const Tables& TablesOf(const SharedDeviceBlock& block) {
  return block.SpranFlag != 0 ? kSpranTables : kOlderTables;
}

// The reply to a memory read, or nothing when the exchange failed, the card
// answered with an error or nothing came back: such a reply is no table data.
std::optional<std::string> Read(std::uint32_t device, const char* command, std::uint32_t size) {
  std::string buffer(size + 1, '\0');
  const std::uint32_t word = ZimoGetResponseExA(device, buffer.data(), size, command);
  const std::uint32_t count = word & kCountMask;
  if ((word & kErrorBits) != 0 || count == 0) return std::nullopt;
  buffer.resize(std::min(count, size));
  return buffer;
}

// Word k of an "rhl" reply (12 digits each, 13 characters apart): its low 20
// bits (the five digits from the eighth on), masked.
struct LongWord {
  std::uint32_t value;
  bool enabled;  // its seventh digit is '0'
};
std::optional<LongWord> LongWordAt(const std::string& reply, std::size_t k, std::uint32_t mask) {
  const std::size_t at = 13 * k;
  if (!HexAt(reply, at, 12)) return std::nullopt;
  const auto low = HexAt(reply, at + 7, 5);
  return LongWord{*low & mask, reply[at + 6] == '0'};
}

std::optional<LongWord> ReadLong(std::uint32_t device, std::uint32_t address, std::uint32_t mask) {
  char command[32];
  std::snprintf(command, sizeof command, "rhl$%x,1", address);
  const auto reply = Read(device, command, 14);
  if (!reply) return std::nullopt;
  return LongWordAt(*reply, 0, mask);
}

// The 24-bit words of an "rhx"/"rhp" reply, in order, as far as the reply
// holds whole words.
std::vector<std::uint32_t> Words24(const std::string& reply) {
  std::vector<std::uint32_t> words;
  std::size_t at = 0;
  while (at < reply.size()) {
    while (at < reply.size() && HexDigit(reply[at]) < 0) ++at;
    const auto w = HexAt(reply, at, 6);
    if (!w) break;
    words.push_back(*w);
    at += 6;
  }
  return words;
}

std::optional<std::uint32_t> ReadWord(std::uint32_t device, const char* command,
                                      std::uint32_t size) {
  const auto reply = Read(device, command, size);
  if (!reply) return std::nullopt;
  const auto words = Words24(*reply);
  if (words.empty()) return std::nullopt;
  return words.front();
}

// Interpreted PLCs: the PLC status table (on older cards the PLC part of
// the program table). False when the first read failed (nothing is filled
// then).
bool ReadPlcTable(std::uint32_t device, const Tables& t, ZimoPlcStatus& status) {
  const std::uint32_t table = t.plc_table;
  char first[32];
  std::snprintf(first, sizeof first, "rhl$%X,1", table - 1);
  const auto before_reply = Read(device, first, 14);
  const auto before = before_reply ? LongWordAt(*before_reply, 0, t.mask) : std::nullopt;
  if (!before) return false;
  std::uint32_t previous_end = before->value;

  char command[32];
  std::snprintf(command, sizeof command, "rhx$%X", t.enable_word);
  if (const auto bits = ReadWord(device, command, 29)) status.enable_bits = *bits & 3u;

  for (int i = 0; i < kPlcs; ++i) {
    const auto entry = ReadLong(device, table + static_cast<std::uint32_t>(i), t.mask);
    if (!entry) break;  // the rest of the table is unknown
    if (entry->value != previous_end) {
      ZimoPlcProgramStatus& plc = status.plc[i];
      ++status.plc_count;
      const std::uint32_t bit = i == 0 ? 1u : 2u;
      plc.running = entry->enabled && (status.enable_bits & bit) != 0 ? 1 : 0;
      plc.start = previous_end;
      plc.end = entry->value - 1;
      plc.size = entry->value - previous_end;
    }
    previous_end = entry->value;
  }
  return true;
}

// Compiled PLCs: the entry table at B, the jump slots at S, the end of all
// compiled code after the chain end E.
void ReadCompiledPlcs(std::uint32_t device, const SharedDeviceBlock& block, const Tables& t,
                      ZimoPlcStatus& status) {
  const std::uint32_t base = block.PlcTableBase, chain_end = block.PlcChainEnd;
  const std::uint32_t code = block.PlcCodeStart, slots = block.PlcSlotTable;
  char command[40];
  std::snprintf(command, sizeof command, "rhp$%lx,32", static_cast<unsigned long>(base));
  const auto reply = Read(device, command, 250);
  if (!reply) return;
  const std::vector<std::uint32_t> entries = Words24(*reply);
  for (std::size_t i = 0; i < entries.size() && i < kPlcs; ++i) {
    if ((entries[i] & 0x800000u) == 0) continue;
    status.plcc[i].present = 1;
    status.plcc[i].start = entries[i] & t.mask;
    ++status.plcc_count;
  }
  if (status.plcc_count == 0) return;

  for (int i = 0; i < kPlcs; ++i) {
    ZimoPlccProgramStatus& plcc = status.plcc[i];
    if (plcc.present == 0) continue;
    const std::uint32_t slot = slots + 2u * static_cast<std::uint32_t>(i);
    std::snprintf(command, sizeof command, "rhp$%x,1", slot + 1);
    const auto target = ReadWord(device, command, 12);
    if (!target) continue;  // unknown: not reported as enabled
    const std::uint32_t to = *target & t.mask;
    plcc.enabled = to != slot + 2 && to != chain_end ? 1 : 0;
  }

  std::snprintf(command, sizeof command, "rhp$%lx,1", static_cast<unsigned long>(chain_end + 1));
  const auto last = ReadWord(device, command, 12);
  if (!last) return;
  std::uint32_t end = block.SpranFlag != 0 ? *last : code + *last;
  // Each PLC ends where the next one above it starts: hand out the ends
  // from the highest start down. A round that finds no PLC left gives none.
  bool sized[kPlcs] = {};
  for (std::uint32_t round = 0; round < status.plcc_count; ++round) {
    int pick = -1;
    for (int i = 0; i < kPlcs; ++i) {
      const ZimoPlccProgramStatus& p = status.plcc[i];
      if (p.present == 0 || sized[i] || p.start < code) continue;
      if (pick < 0 || p.start > status.plcc[pick].start) pick = i;
    }
    if (pick < 0) continue;
    ZimoPlccProgramStatus& p = status.plcc[pick];
    sized[pick] = true;
    p.end = end - 1;
    p.size = end - p.start;
    end = p.start;
  }
}

}  // namespace
}  // namespace zimo::corvan

extern "C" {

int32_t ZimoGetProgramInfo(uint32_t device, int32_t plc, int32_t number, uint32_t* start,
                           uint32_t* end) {
  using namespace zimo::corvan;
  const int d = IndexFromDeviceNumber(device);
  if (!IsRealDevice(d) || App().Block(d) == nullptr) return 0;
  if (number < 0 || number >= (plc != 0 ? kPlcs : static_cast<int>(kPlcPart))) return 0;
  const Tables& t = TablesOf(*App().Block(d));
  const std::uint32_t entry =
      t.program_table + static_cast<std::uint32_t>(number) + (plc != 0 ? kPlcPart : 0);
  std::optional<std::string> reply;
  {
    CommandLock lock(device);
    char command[32];
    std::snprintf(command, sizeof command, "rhl$%X,2", entry - 1);
    reply = Read(device, command, 127);
  }
  if (!reply) return 0;
  const auto first = LongWordAt(*reply, 0, t.mask), second = LongWordAt(*reply, 1, t.mask);
  if (!first || !second) return 0;
  const std::uint32_t from = plc == 0 && number == 0 ? t.program_zero : first->value;
  if (start != nullptr) *start = from;
  if (end != nullptr) *end = second->value;
  return from != second->value ? 1 : 0;
}

int16_t ZimoGetPlcStatus(uint32_t device, ZimoPlcStatus* status) {
  using namespace zimo::corvan;
  const int d = IndexFromDeviceNumber(device);
  if (status == nullptr || !IsRealDevice(d) || App().Block(d) == nullptr) return 0;
  const SharedDeviceBlock& block = *App().Block(d);
  const Tables& t = TablesOf(block);
  CommandLock lock(device);
  std::memset(status, 0, sizeof *status);
  if (!ReadPlcTable(device, t, *status)) {
    // The box waits for a person: it comes after the lock is let go, so no
    // other client of the card waits on it.
    char text[128] = {};
    const int32_t code = ZimoGetErrorStrA(device, text, sizeof text - 1);
    lock.Release();
    if (code > 0) zimo::platform::ShowMessageBox(text, kErrorCaption, zimo::platform::kMbOk);
    return 0;
  }
  ReadCompiledPlcs(device, block, t, *status);
  lock.Release();
  return static_cast<int16_t>(status->plc_count + status->plcc_count);
}

int32_t ZimoIsAnyPLCRunning(uint32_t device) {
  ZimoPlcStatus status;
  if (ZimoGetPlcStatus(device, &status) == 0 || status.enable_bits == 0) return 0;
  for (const ZimoPlcProgramStatus& plc : status.plc) {
    if (plc.running == 1) return 1;
  }
  for (const ZimoPlccProgramStatus& plcc : status.plcc) {
    if (plcc.enabled == 1) return 1;
  }
  return 0;
}

}  // extern "C"
