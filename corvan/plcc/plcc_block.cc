#include "plcc/plcc_block.h"

namespace zimo::corvan::plcc {

namespace {

void EmitBlockExit(BlockKind kind, PlccEmitter& emit, int plc) {
  PlccCodeBuffer& code = emit.code();
  switch (kind) {
    case BlockKind::kPlcc:
      emit.EmitPlccReturnCode(plc);
      break;
    case BlockKind::kServo:
      code.Append(0x200013);  // CLR A
      code.Append(0x0AF080);  // JMP SERVORTN
      code.Append(0x04000B);
      break;
    case BlockKind::kVarPlcc:
      code.Append(0x64F400);  // MOVE #>$4004,R4
      code.Append(0x004004);
      code.Append(0x077094);  // MOVEM R4,P:$4002: restart at the start
      code.Append(0x004002);
      code.Append(0x00000C);  // RTS
      break;
  }
}

}  // namespace

int GeneratePlccCode(PlccCompilation& c, BlockKind kind, const PlccToken* tokens, std::size_t count,
                     std::uint32_t address, PlccCodeBuffer& code, PlccEntryTable& table) {
  // The assembly listing and statement code are not part of this build;
  // a block that needs them is refused rather than half compiled.
  if (c.asm_output) return -kErrFormat;
  PlccEmitter emit(c, code);
  bool plc_open = false;
  int plc = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint32_t k = tokens[i].code & 0x3FF;
    switch (k) {
      case kTokOpenPlcc: {
        if (plc_open) emit.EmitPlccReturnCode(plc);
        plc_open = true;
        plc = static_cast<int>(tokens[i].value);
        const std::uint32_t here = address + static_cast<std::uint32_t>(code.size());
        table[static_cast<std::size_t>(plc)] = 0x800000 + here;
        table[33 + 2 * static_cast<std::size_t>(plc)] = here;
        break;
      }
      case kTokOpenServo:
      case kTokOpenVarPlcc:
        break;
      case kTokReturn:
        EmitBlockExit(kind, emit, plc);
        break;
      case kTokClose:
        EmitBlockExit(kind, emit, plc);
        return code.overflowed() ? -kErrMemory : 0;
      default:
        return -kErrFormat;
    }
    if (code.overflowed()) return -kErrMemory;
  }
  return code.overflowed() ? -kErrMemory : 0;
}

}  // namespace zimo::corvan::plcc
