#include "plcc/plcc_compilation.h"

#include <cstring>
#include <utility>

namespace zimo::corvan::plcc {

namespace {

// Both generations lay out the PLC area the same way from its table base:
// the slot table 32 words in, the chain's end at 96, then the code.
PlccTarget Generation(bool spran, std::string firmware, std::uint32_t table_base,
                      std::uint32_t code_offset, std::uint32_t variable_count) {
  PlccTarget t;
  t.spran = spran;
  t.firmware = std::move(firmware);
  t.table_base = table_base;
  t.chain_end = t.table_base + 96;
  t.code_start = t.table_base + code_offset;
  t.slot_table = t.table_base + 32;
  t.variable_count = variable_count;
  return t;
}

}  // namespace

PlccTarget PlccTarget::Older(std::string firmware) {
  return Generation(false, std::move(firmware), 0x8000, 98, 1024);
}

PlccTarget PlccTarget::Spran(std::string firmware) {
  return Generation(true, std::move(firmware), 0x50000, 130, 8192);
}

LabRoutineTable MakeLabRoutineTable(const std::uint32_t (&v)[kLabLinkValues]) {
  LabRoutineTable t{};
  for (int k = 0; k < 24; ++k) t[k] = v[k];
  const int second_set[8] = {16, 24, 18, 25, 20, 21, 22, 26};
  for (int k = 0; k < 8; ++k) t[24 + k] = v[second_set[k]];
  for (int k = 0; k < 12; ++k) t[32 + k] = v[27 + k];
  t[44] = v[40] + 1;
  t[45] = v[40];
  t[46] = v[39] + 1;
  t[47] = v[39];
  return t;
}

int CompareFirmware5(const char* version, const char* reference) {
  if (version == nullptr || !(version[0] >= '0' && version[0] <= '9')) return -1;
  return std::strncmp(version, reference, 5);
}

bool IsLArray(const VariableDefinition& d) { return (d.code & 0x400000) != 0; }
bool IsFArray(const VariableDefinition& d) { return d.code == kFArrayCode; }

PlccCompilation::PlccCompilation(const PlccTarget& t)
    : target(t),
      l_table(kDefinitionEntries),
      f_table(kDefinitionEntries),
      pool(target.limits.pool_bytes != 0 ? target.limits.pool_bytes : kStringPoolSize, 0) {
  spran = target.spran;
  // The lab's table holds each link value the generator needs once more:
  // back to link-list order, the pushed forms following from the popped.
  if (target.has_lab_routines) {
    const LabRoutineTable& r = target.lab_routines;
    target.link_list.fill(0);
    for (int k = 0; k < 24; ++k) target.link_list[k] = r[k];
    target.link_list[24] = r[25];
    target.link_list[25] = r[27];
    target.link_list[26] = r[31];
    for (int k = 0; k < 12; ++k) target.link_list[27 + k] = r[32 + k];
    target.link_list[39] = r[47];
    target.link_list[40] = r[45];
  }
  extended_firmware = spran && CompareFirmware5(target.firmware.c_str(), "1.936") > 0;
  servo_firmware = extended_firmware && CompareFirmware5(target.firmware.c_str(), "1.937") > 0;
  variable_limit = static_cast<int>(target.variable_count);

  // With the extended firmware every routine sits in one fixed table; the
  // card's own list is replaced by it.
  if (extended_firmware) {
    for (int i = 0; i < 62; ++i) target.link_list[i] = 0xFF00u + 2u * static_cast<std::uint32_t>(i);
  }
  for (int i = 0; i <= 44; ++i) routines.entry[i] = target.link_list[i];
  routines.divide_popped = target.link_list[39];
  routines.modulo_popped = target.link_list[40];
  if (extended_firmware) {
    routines.divide_pushed = target.link_list[45];
    routines.modulo_pushed = target.link_list[46];
    routines.entry[43] = 0x35C2;
    for (int i : {45, 46, 47, 48, 49, 53, 54, 55, 56, 57, 58, 59, 60, 61}) {
      routines.entry[i] = target.link_list[i];
    }
  } else {
    routines.divide_pushed = target.link_list[39] + 1;
    routines.modulo_pushed = target.link_list[40] + 1;
  }
  if (target.has_lab_routines) {
    routines.modulo_pushed = target.lab_routines[44];
    routines.modulo_popped = target.lab_routines[45];
    routines.divide_pushed = target.lab_routines[46];
    routines.divide_popped = target.lab_routines[47];
  }
}

void PlccCompilation::UseVarPlccRoutines() {
  routines.divide_pushed = 4;
  routines.divide_popped = 5;
  routines.modulo_pushed = 6;
  routines.modulo_popped = 7;
}

}  // namespace zimo::corvan::plcc
