// Fakes of what the NC language and translator layers ask of the rest of the
// server: the card side (errors and queued card lines, kept in order) and a
// store of macro variables (#0 vacant and read-only, locals #1-#33, commons
// #100-#199 and #500-#999; everything else refused).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "nc/language/nc_types.h"
#include "nc/language/scanner.h"

namespace zimo::nc::testing {

class FakeCardSide : public NcCardSide {
 public:
  void RecordError(unsigned cs, const NcErrorReport& report) override {
    errors.push_back(report);
    error_cs.push_back(cs);
  }
  void QueueCardLine(unsigned cs, std::string_view text) override {
    lines.emplace_back(text);
    line_cs.push_back(cs);
  }
  // The id of the first error, 0 when none.
  uint32_t FirstError() const { return errors.empty() ? 0 : errors.front().id; }

  std::vector<NcErrorReport> errors;
  std::vector<unsigned> error_cs;
  std::vector<std::string> lines;
  std::vector<unsigned> line_cs;
};

class FakeVariables : public NcMacroEnvironment {
 public:
  static bool Known(int n) {
    return n == 0 || (n >= 1 && n <= 33) || (n >= 100 && n <= 199) || (n >= 500 && n <= 999);
  }
  // A refused read is reported, as the variables layer does.
  bool ReadVariable(unsigned cs, int number, double* value) override {
    if (!Known(number)) {
      if (card != nullptr) {
        NcErrorReport report;
        report.id = 0xC0110039;
        report.text = "Illegal variable reference";
        card->RecordError(cs, report);
      }
      return false;
    }
    const auto it = values.find(number);
    *value = it == values.end() ? kVacant : it->second;
    return true;
  }
  bool CanAssign(unsigned, int number) override { return number != 0 && Known(number); }
  bool WriteVariable(unsigned cs, int number, double value) override {
    if (!CanAssign(cs, number)) return false;
    values[number] = value;
    return true;
  }
  int AxisFormatDigits(unsigned, int) override { return digits; }

  std::map<int, double> values;
  int digits = 4;
  NcCardSide* card = nullptr;
};

}  // namespace zimo::nc::testing
