// Fakes of what the NC language and translator layers ask of the rest of the
// server: the card side (errors, queued card lines and card commands kept in
// order, DPR dwords in memory, scripted card answers) and a
// store of macro variables (#0 vacant and read-only, locals #1-#33, commons
// #100-#199 and #500-#999; everything else refused).
#pragma once

#include <cstdint>
#include <map>
#include <utility>
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
  void SendCommand(std::string_view line) override { commands.emplace_back(line); }
  void StoreChange(std::string_view line) override { changes.emplace_back(line); }
  void Pause(unsigned milliseconds) override { pauses.push_back(milliseconds); }
  int16_t GetIVariable(unsigned number, int16_t default_value) override {
    const auto it = i_variables.find(number);
    return it == i_variables.end() ? default_value : it->second;
  }
  uint32_t GetDprBits(uint32_t offset, unsigned first, unsigned count) override {
    const uint32_t mask = count >= 32 ? ~0u : (1u << count) - 1u;
    return (Dword(offset) >> first) & mask;
  }
  bool GetDprBit(uint32_t offset, unsigned bit) override { return (Dword(offset) >> bit) & 1u; }
  void SetDprBit(uint32_t offset, unsigned bit, bool value) override {
    if (value) {
      dpr[offset] |= 1u << bit;
    } else {
      dpr[offset] &= ~(1u << bit);
    }
  }
  double BiasPosition(unsigned motor, double) override { return motors[motor].bias; }
  double MasterPosition(unsigned motor, double) override { return motors[motor].master; }
  double NetActualPosition(unsigned motor, double) override { return motors[motor].net_actual; }
  double MotorCommandedPosition(unsigned motor, double) override {
    return motors[motor].commanded;
  }
  double FollowingError(unsigned motor, double) override { return motors[motor].following; }
  uint32_t MotorMotion(unsigned motor) override { return motors[motor].motion; }
  bool HomeComplete(unsigned motor) override { return motors[motor].homed; }
  void MotorStatusWords(unsigned motor, uint32_t* servo, uint32_t* status,
                        bool* older) override {
    *servo = motors[motor].servo_status;
    *status = motors[motor].motor_status;
    *older = older_card;
  }
  double CommandedPosition(unsigned cs, char letter) override {
    const auto it = cs_commanded.find({cs, letter});
    return it == cs_commanded.end() ? 0.0 : it->second;
  }

  // The id of the first error, 0 when none.
  uint32_t FirstError() const { return errors.empty() ? 0 : errors.front().id; }
  uint32_t Dword(uint32_t offset) const {
    const auto it = dpr.find(offset);
    return it == dpr.end() ? 0 : it->second;
  }

  // Scripted values of one motor (positions in axis units).
  struct Motor {
    double bias = 0, master = 0, net_actual = 0, commanded = 0, following = 0;
    uint32_t motion = 0;
    bool homed = false;
    uint32_t servo_status = 0, motor_status = 0;
  };
  std::vector<std::string> commands;
  std::vector<std::string> changes;
  std::vector<unsigned> pauses;
  std::map<unsigned, int16_t> i_variables;
  std::map<uint32_t, uint32_t> dpr;  // dwords by byte offset
  Motor motors[8];
  bool older_card = false;
  std::map<std::pair<unsigned, char>, double> cs_commanded;

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
