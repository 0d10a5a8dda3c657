// The DPR memory test's own clock: what measures how long the card takes
// to answer a write. Tests install a clock of their own; nullptr goes back
// to the process's current clock.
#pragma once

#include "platform/clock.h"

namespace zimo::corvan {

void SetDprTestClock(platform::Clock* clock);

}  // namespace zimo::corvan
