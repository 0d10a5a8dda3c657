// The converter's view of a device: its card generation and number ranges
// from the shared device table.
#include "corvan/internal/shared_table.h"
#include "dpr/rotary_encoder.h"
#include "dpr/rotary_parser.h"
#include "link/library_app.h"

namespace zimo::corvan {

RotaryDialect RotaryDialectOf(int device) {
  const SharedDeviceBlock* block = IsRealDevice(device) ? App().Block(device) : nullptr;
  if (block == nullptr) return kRotaryOlder;
  RotaryDialect d;
  d.spran = block->SpranFlag != 0;
  d.motor_count = block->CardMotorCount != 0 ? block->CardMotorCount : (d.spran ? 32u : 8u);
  d.variable_count =
      block->CardVariableCount != 0 ? block->CardVariableCount : (d.spran ? 8192u : 1024u);
  return d;
}

int RotaryParseLine(int device, const char* text, RotaryToken* tokens) {
  return RotaryParseLine(RotaryDialectOf(device), text, tokens);
}

int RotaryEncodeLine(int device, const RotaryToken* tokens, std::uint8_t* block) {
  return RotaryEncodeLine(RotaryDialectOf(device), tokens, block);
}

}  // namespace zimo::corvan
