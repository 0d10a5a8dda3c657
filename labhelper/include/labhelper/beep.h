// The library's beep. Tests install a hook that records each beep, so the
// order of beeps and message boxes can be checked; without one, a beep is a
// line on the debug channel.
#pragma once

#include <cstdint>
#include <functional>

namespace zimo::labhelper {

// Takes the beep type (0xFFFFFFFF for the simple beep); returns nonzero
// when the beep was made.
using BeepHook = std::function<int(uint32_t type)>;

// Installs `hook` for the process; an empty hook restores the default.
void SetBeepHook(BeepHook hook);
int Beep(uint32_t type);

}  // namespace zimo::labhelper
