// The status window's poll, its brake buttons and the motor kill. All of
// it goes through the program's command path, so in demonstration mode
// nothing is sent and nothing on the window changes.
#pragma once

#include "labprog/lab_program.h"
#include "labprog/status_window.h"

namespace zimo::labprog {

// One tick: reads every value from the card in the fixed order and writes
// the window. When an exchange times out (no reply and a failed status),
// the tick's remaining commands are not sent and their replies count as
// empty, so a muted card costs one time-out per tick.
void PollTick(LabProgram& program, StatusWindow& window);

// A brake button: switches the brake to the other state; the caption
// follows with the next tick.
void BrakeButtonClick(LabProgram& program, const StatusWindow& window, int index);

// Stops the user algorithm and the motors; unless `bypass_rotor_code`, also
// the rotor drive.
void DoMotorKill(LabProgram& program, bool bypass_rotor_code);

// The kill button: the kill, then a beep.
void KillButtonClick(LabProgram& program);

}  // namespace zimo::labprog
