#include "labprog/plot_data.h"

#include <algorithm>
#include <memory>

#include "labhelper/qeldll32.h"
#include "labprog/units.h"
#include "ui/form_language.h"

namespace zimo::labprog {

bool LoadPlotData(LabProgram& program, const std::string& file, int16_t& plot_file_mode) {
  auto fresh = std::make_unique<GatheredData>();
  PlotRecord record = ToPlotRecord(program.Data);
  auto a = fresh->ArrayPointers();
  int16_t mode = plot_file_mode;
  const int16_t result = load_plot_file2(file.c_str(), &record, a[0], a[1], a[2], a[3], a[4], a[5],
                                         a[6], a[7], a[8], a[9], a[10], a[5], a[12], &mode);
  const int32_t n = record.sample_count;
  if (result == 0 || n <= 0 || n > GatheredData::kCapacity) return false;
  plot_file_mode = mode;
  FromPlotRecord(record, *fresh);
  program.Data = std::move(*fresh);

  ExperimentConfiguration& config = program.Config;
  config.Ts = record.sample_period;
  config.WhatToGather = record.channel_mask;
  config.WhatToPlotLeft = record.left_signals;
  config.WhatToPlotRight = record.right_signals;
  if (config.Ts != 0) {
    if (auto period = ui::CInt(record.gather_period / (config.Ts / kServoPeriodSeconds))) {
      config.GatherPeriod = *period;
    }
  }
  if (mode == 2) {
    auto& sweep = config.Trajectory1.SineSweep;
    sweep.SweepMode = record.sweep_mode;
    sweep.SweepTime = record.sweep_time;
    sweep.StartFrequency = record.sweep_start_frequency;
    sweep.EndFrequency = record.sweep_end_frequency;
    config.TrajectoryType = 6;
  }
  return true;
}

void ExportRawData(LabProgram& program, const std::string& file) {
  program.Data.WhatToGather = program.Config.WhatToGather;
  const PlotRecord record = ToPlotRecord(program.Data);
  const int16_t kind = ui::Val(program.ApparatusTag) == 11 ? 11 : 3;
  const auto a = program.Data.ArrayPointers();
  (void)export_plot2(file.c_str(), &record, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8],
                     a[9], a[10], a[5], a[12], kind, UnitDecimalPlaces(program.Config),
                     program.Config.WhatToGather);
}

}  // namespace zimo::labprog
