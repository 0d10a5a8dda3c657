// The frame's Load Plot Data and Export Raw Data on the program's gathered
// data, through the helper library's plot-file reader and text export.
#pragma once

#include <cstdint>
#include <string>

#include "labprog/lab_program.h"

namespace zimo::labprog {

// The servo period the gather period of a plot file is measured in.
inline constexpr double kServoPeriodSeconds = 0.000884;

// Reads `file` into fresh arrays first: only a file that loads with at
// least one sample replaces the gathered data, its header and the settings
// taken from it (sample period, channels, plotted signals, gather period,
// and for sine-sweep data the sweep). A bad file leaves everything as it
// was (the reader has told the user). The gather period stays as it was
// when the file's sample period is 0 or the result does not fit 16 bits.
// `plot_file_mode` receives the file's mode. True when the data were
// replaced.
bool LoadPlotData(LabProgram& program, const std::string& file, int16_t& plot_file_mode);

// The gathered data as a text table; the magnetic levitation plant's
// columns (kind 11) when the apparatus tag reads 11, else kind 3.
void ExportRawData(LabProgram& program, const std::string& file);

}  // namespace zimo::labprog
