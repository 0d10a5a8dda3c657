// Code of one compiled block: its statements, its entry into the PLC tables,
// its exits and its end of scan.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "plcc/plcc_compilation.h"
#include "plcc/plcc_emit.h"

namespace zimo::corvan::plcc {

enum class BlockKind { kPlcc, kServo, kVarPlcc };

inline constexpr std::size_t kEntryTableWords = 97;
using PlccEntryTable = std::array<std::uint32_t, kEntryTableWords>;

// Generates the code of tokens[0..count) (opening token first, CLOSE last)
// into `code`, whose first word lands at `address`. Records compiled PLCs in
// `table`. 0 or minus an error number.
int GeneratePlccCode(PlccCompilation& c, BlockKind kind, const PlccToken* tokens, std::size_t count,
                     std::uint32_t address, PlccCodeBuffer& code, PlccEntryTable& table);

}  // namespace zimo::corvan::plcc
