// Text export of gathered data: a title line, then one bracketed row per
// sample, so the file reads as one matrix. Written in binary mode, so the
// line ends are exactly the CR LF (and the extra LF after the titles) given
// here.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "files.h"
#include "labhelper/qeldll32.h"
#include "platform/debug.h"
#include "platform/message.h"
#include "plot_channels.h"

namespace zimo::labhelper {
namespace {

// Seconds per (gather period x servo time x index): 1 / (1000 x 8388608),
// taken at single precision.
constexpr double kTimeFactor = static_cast<double>(1.192093e-10f);
constexpr char kPlainFormat[] = " %15.4lf";

struct Column {
  const char* title;
  const double* values;
  bool effort;  // efforts keep four decimals whatever the caller asks
};

void Append(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Append(std::string& out, const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (length < 0) return;
  if (static_cast<size_t>(length) < sizeof buffer) {
    out.append(buffer, length);
    return;
  }
  std::vector<char> large(static_cast<size_t>(length) + 1);
  va_start(args, format);
  std::vsnprintf(large.data(), large.size(), format, args);
  va_end(args);
  out.append(large.data(), length);
}

int16_t WriteExport(const char* file_name, const PlotRecord* record,
                    const std::vector<Column>& columns, const char* value_format) {
  if (record == nullptr) return 0;
  std::FILE* file = OpenForWriting(file_name);
  if (file == nullptr) {
    platform::ShowMessageBox(kUnableToOpen, kErrorTitle,
                             platform::kMbOk | platform::kMbIconExclamation);
    return 0;
  }
  std::string text = " Sample   Time   ";
  for (const Column& column : columns) text += column.title;
  text += "\r\n\n";

  // Every sample gets its row; the index is counted in 32 bits so no count
  // can make the loop wrap.
  const int32_t count = record->sample_count;
  const double period = static_cast<double>(record->gather_period) * record->servo_time;
  bool written = true;
  for (int32_t i = 0; i < count && written; ++i) {
    Append(text, "%c%5d %8.3f", i == 0 ? '[' : ' ', i, period * i * kTimeFactor);
    for (const Column& column : columns) {
      const double value = column.values != nullptr ? column.values[i] : 0.0;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
      Append(text, column.effort ? kPlainFormat : value_format, value);
#pragma GCC diagnostic pop
    }
    text += i == count - 1 ? "]\r\n" : ";\r\n";
    if (text.size() >= 1 << 16) {
      written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
      text.clear();
    }
  }
  if (written && !text.empty()) {
    written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  }
  if (std::fclose(file) != 0) written = false;
  if (!written) {
    platform::DebugPrintf("qeldll32: writing export %s failed\n", file_name);
    return 0;
  }
  return 1;
}

constexpr const char* kVariableTitles[4] = {"   Variable Q10 ", "   Variable Q11 ",
                                            "   Variable Q12 ", "   Variable Q13 "};
constexpr const char* kNodeTitles[4] = {"       Node A   ", "       Node B   ", "       Node C   ",
                                        "       Node D   "};

}  // namespace
}  // namespace zimo::labhelper

using zimo::labhelper::Column;
using zimo::labhelper::kNodeTitles;
using zimo::labhelper::kVariableTitles;

extern "C" {

int16_t export_plot(const char* file_name, const PlotRecord* record, const double* cmd,
                    const double* enc1, const double* enc2, const double* enc3,
                    const double* effort, const double* disturbance, const double* q10,
                    const double* q11, const double* q12, const double* q13, int16_t kind) {
  if (record == nullptr) return 0;
  const int32_t mask = record->channel_mask;
  const double* q[4] = {q10, q11, q12, q13};
  std::vector<Column> columns;
  if (mask & 0x01)
    columns.push_back({kind == 2 ? "  Drive Input   " : "  Commanded Pos ", cmd, false});
  if (mask & 0x02) columns.push_back({"  Encoder 1 Pos ", enc1, false});
  if (mask & 0x04) columns.push_back({"  Encoder 2 Pos ", enc2, false});
  if (mask & 0x08) columns.push_back({"  Encoder 3 Pos ", enc3, false});
  for (int v = 0; v < 4 && kind != 2; ++v) {
    if (mask & (0x10 << v)) {
      columns.push_back({kind == 1 ? kVariableTitles[v] : kNodeTitles[v], q[v], false});
    }
  }
  if (mask & 0x400) columns.push_back({"  Control Effort", effort, false});
  if (mask & 0x800) columns.push_back({"  Disturbance Effort", disturbance, false});
  return zimo::labhelper::WriteExport(file_name, record, columns, zimo::labhelper::kPlainFormat);
}

int16_t export_plot2(const char* file_name, const PlotRecord* record, const double* cmd,
                     const double* enc1, const double* enc2, const double* enc3,
                     const double* effort, const double* disturbance, const double* q10,
                     const double* q11, const double* q12, const double* q13, const double* cmd2,
                     const double* extra, const double* enc4, int16_t kind, int16_t decimals,
                     int32_t channel_mask) {
  const int32_t mask = channel_mask;
  const bool two_axis = kind == 3 || kind == 11;
  const double* q[4] = {q10, q11, q12, q13};
  std::vector<Column> columns;
  if (mask & 0x01) {
    columns.push_back({kind == 2  ? "  Drive Input   "
                       : two_axis ? "  Commanded 1 Pos "
                                  : "  Commanded Pos ",
                       cmd, false});
  }
  if ((mask & 0x100) && two_axis) columns.push_back({"  Commanded 2 Pos", cmd2, false});
  if (mask & 0x02) {
    columns.push_back({kind == 11 ? "  Sensor 1 Pos  " : "  Encoder 1 Pos ", enc1, false});
  }
  if (mask & 0x04) {
    columns.push_back({kind == 11 ? "  Sensor 2 Pos  " : "  Encoder 2 Pos ", enc2, false});
  }
  if (mask & 0x08) columns.push_back({"  Encoder 3 Pos ", enc3, false});
  if ((mask & 0x200) && two_axis) columns.push_back({"  Encoder 4 Pos ", enc4, false});
  for (int v = 0; v < 4 && kind != 2; ++v) {
    if (mask & (0x10 << v)) {
      columns.push_back({kind == 1 || two_axis ? kVariableTitles[v] : kNodeTitles[v], q[v], false});
    }
  }
  if (mask & 0x400) {
    columns.push_back({two_axis ? "  Control Effort 1" : "  Control Effort", effort, true});
  }
  if (mask & 0x800) {
    if (two_axis) {
      columns.push_back({"  Control Effort 2", extra, true});
    } else {
      columns.push_back({"  Disturbance Effort", disturbance, true});
    }
  }
  // The precision goes into the format; keep it to what printf can take.
  char value_format[24];
  std::snprintf(value_format, sizeof value_format, " %%15.%dlf", std::clamp<int>(decimals, 0, 20));
  return zimo::labhelper::WriteExport(file_name, record, columns, value_format);
}

}  // extern "C"
