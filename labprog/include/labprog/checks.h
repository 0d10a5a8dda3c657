// The checks of an entered number. A failed check beeps, shows why in a
// message box (through the process's message service; the answer goes to
// the link's LastLinkStatus) and returns false; the dialog then gives the
// field the focus back.
#pragma once

#include <string>
#include <string_view>

#include "labprog/lab_program.h"

namespace zimo::labprog {

// Accepts `value` in [0, upper]; `kind` picks where `upper` comes from:
//   0  read from the card as P<|limit|> ("P74" for 74)
//   1  as kind 0, scaled by 1/3276 to volts
//   2  as kind 0, converted to user units
//   3  fixed at 32767
//   4  `limit` counts converted to user units
//   5  `limit` as given
// In demonstration mode kinds 0 to 2 ask nothing and take the number in the
// shared reply text as it last stood (0 when it holds none). An unknown
// kind, or a limit too large to name a P variable, checks only the minimum.
bool CheckValueInRange(LabProgram& program, float value, float limit, int kind);

// The leading number of `text` must lie within [low, high]; `name` says
// what the number is ("Segment time").
bool CheckTextBounds(LabProgram& program, std::string_view text, const std::string& name, float low,
                     float high);

}  // namespace zimo::labprog
