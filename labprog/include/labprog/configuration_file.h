// The experiment's settings file (".cfg"): an INI file of 34 sections and
// 377 keys, read and written one key at a time through the private-profile
// calls. One table (configuration_keys.h) drives both directions.
//
// A name without a folder means the current directory. Numbers are written
// in the forms' Str form without its blank (Ts and SensorMode keep the
// blank); the reader takes every form Val reads. A whole number that does
// not fit its field, or a number too large for its Single or Double, leaves
// the field as it was.
#pragma once

#include <string>

#include "labprog/lab_program.h"

namespace zimo::labprog {

// Reads every key (a missing one takes the table's default), asks the card
// for its counts per unit, refreshes the status captions and names the file
// in the frame caption.
void LoadConfiguration(LabProgram& program, const std::string& file_name);
// Saves to Config.Filename (default.cfg if blank) and puts that name in the
// frame caption. Write failures are silent: each key's write just fails.
void SaveConfiguration(LabProgram& program);

}  // namespace zimo::labprog
