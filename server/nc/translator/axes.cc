#include "nc/translator/axes.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "nc/translator/settings_store.h"

namespace zimo::nc {
namespace {

constexpr double kMmPerInch = 25.4;
constexpr double kInchPerMm = 0.03937007874015748;
constexpr double kPerMinuteToPerMs = 1.0 / 60000.0;

template <typename... Args>
std::string Format(const char* format, Args... args) {
  char text[160];
  const int n = std::snprintf(text, sizeof text, format, args...);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof text) return std::string(text, n);
  std::string big(static_cast<std::size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), format, args...);
  big.resize(static_cast<std::size_t>(n));
  return big;
}

double Rotary360(double v) { return std::fmod(v, 360.0); }

const std::string& ChosenFormat(const NcAxis& a, bool metric) {
  if (a.Rotary()) return a.formatDeg;
  return metric ? a.formatMm : a.formatInch;
}

std::string& ChosenFormat(NcAxis& a, bool metric) {
  if (a.Rotary()) return a.formatDeg;
  return metric ? a.formatMm : a.formatInch;
}

// A display format such as "9.3" is put into a printf format: only digits and
// one point are kept, so a stored text cannot bring conversions of its own.
std::string SafeFormat(const std::string& f) {
  std::string out;
  bool point = false;
  for (char c : f) {
    if (std::isdigit(static_cast<unsigned char>(c))) {
      out += c;
    } else if (c == '.' && !point) {
      out += c;
      point = true;
    } else {
      break;
    }
  }
  return out;
}

}  // namespace

uint32_t AxisAddressCode(char letter) {
  switch (std::toupper(static_cast<unsigned char>(letter))) {
    case 'A': return 0;
    case 'B': return 1;
    case 'C': return 2;
    case 'X': return 3;
    case 'Y': return 4;
    case 'Z': return 5;
    case 'U': return 6;
    case 'V': return 7;
    case 'W': return 8;
    case 'S': return kSpindleAddress;
    default: return 3;
  }
}

bool InitAxis(NcCardSide& card, const NcSettings& settings, NcAxis* axis, unsigned cs,
              char letter) {
  axis->coordSys = cs;
  axis->letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  axis->section = Format("Axis%c%u", axis->letter, cs);
  axis->combinedLetter = axis->letter;
  axis->displayCombined = false;
  axis->reserved = 0;

  bool enabled = false;
  settings.GetBool(axis->section, "Enabled", &enabled, false);
  uint32_t motor = 0xFFFFFFFFu;
  settings.GetLong(axis->section, "Motor", &motor, 0xFFFFFFFFu);
  const auto signed_motor = static_cast<int32_t>(motor);
  if (!enabled || signed_motor < 0 || signed_motor > 7) return false;

  axis->motorNumber = motor + 1;
  axis->motorIndex = motor;
  axis->addressCode = AxisAddressCode(axis->letter);
  axis->position.fill(0.0);
  ReadAxisSettings(settings, axis);
  BuildAxisFormats(axis);
  axis->outputLimit =
      static_cast<uint16_t>(card.GetIVariable(axis->motorNumber * 100 + 69, 32767));
  return true;
}

void ReadAxisSettings(const NcSettings& settings, NcAxis* a) {
  const std::string& s = a->section;
  if (a->letter == 'S') {
    a->isSpindle = 1;
  } else {
    settings.GetLong(s, "isSpindle", &a->isSpindle, 0);
  }
  settings.GetBool(s, "display", &a->display, true);
  settings.GetBool(s, "displayCombined", &a->displayCombined, false);
  std::string combined;
  settings.GetText(s, "axisCharCombined", &combined, 10, std::string(1, a->letter));
  a->combinedLetter = combined.empty() ? '\0' : combined[0];
  settings.GetDouble(s, "inpositionBand", &a->inpositionBand, 0.025);
  settings.GetDouble(s, "maxRapid", &a->maxRapid, 300.0);
  settings.GetDouble(s, "maxFeed", &a->maxFeed, 200.0);
  settings.GetDouble(s, "fatalFollow", &a->fatalFollow, 0.025);
  settings.GetDouble(s, "warnFollow", &a->warnFollow, 0.015);
  settings.GetDouble(s, "jogSpeedLow", &a->jogSpeed[0], 5.0);
  settings.GetDouble(s, "jogSpeedMedLow", &a->jogSpeed[1], 10.0);
  settings.GetDouble(s, "jogSpeedMed", &a->jogSpeed[2], 20.0);
  settings.GetDouble(s, "jogSpeedMedHi", &a->jogSpeed[3], 50.0);
  settings.GetDouble(s, "jogSpeedHi", &a->jogSpeed[4], 100.0);
  settings.GetLong(s, "precision", &a->precision, 6);
  settings.GetDouble(s, "pulsePerUnit", &a->pulsePerUnit, 1000.0);
  settings.GetBool(s, "FRAX", &a->feedRateAxis, true);
  settings.GetBool(s, "metricUnits", &a->metricUnits, false);
  settings.GetText(s, "format_mm", &a->formatMm, 10, "9.3");
  settings.GetText(s, "format_in", &a->formatInch, 10, "9.4");
  settings.GetText(s, "format_deg", &a->formatDeg, 10, "9.3");
  settings.GetLong(s, "spindleMaxLimit", &a->spindleMaxLimit, 6000);
  settings.GetLong(s, "spindleMaxRpm", &a->spindleMaxRpm, 1000);
  settings.GetDouble(s, "spindleRatio", &a->spindleRatio, 1.0);
}

void BuildAxisFormats(NcAxis* a) {
  const unsigned n = a->coordSys + 1;
  a->displayDeg = Format("%u%c%%%sf", n, a->letter, SafeFormat(a->formatDeg).c_str());
  a->displayMm = Format("%u%c%%%sf", n, a->letter, SafeFormat(a->formatMm).c_str());
  a->displayInch = Format("%u%c%%%sf", n, a->letter, SafeFormat(a->formatInch).c_str());
  a->unitDeg = "DEG";
  a->unitMm = "MM";
  a->unitInch = "IN";
}

NcAxis* NcAxisTable::FindAt(unsigned cs, int address) {
  if (cs > 1 || address < 0 || address > 8) return nullptr;
  const int i = slot[cs][address];
  return i < 0 || i >= count ? nullptr : &axes[i];
}

const NcAxis* NcAxisTable::FindLetter(unsigned cs, char letter) const {
  if (cs > 1) return nullptr;
  const char up = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  for (int i = 0; i < count; ++i) {
    if (axes[i].coordSys == cs && axes[i].letter == up) return &axes[i];
  }
  return nullptr;
}

void GetAxisFormatText(const NcAxisTable& table, unsigned cs, char letter, std::string* text,
                       bool metric) {
  const NcAxis* a = table.FindLetter(cs, letter);
  if (a == nullptr) return;
  *text = Format("%c%%%sf", a->letter, ChosenFormat(*a, metric).c_str());
}

int GetAxisFormatDigits(const NcAxisTable& table, unsigned cs, char letter, unsigned* width,
                        unsigned* decimals, bool metric) {
  const NcAxis* a = table.FindLetter(cs, letter);
  if (a == nullptr) return 0;
  const int n = std::sscanf(ChosenFormat(*a, metric).c_str(), "%u.%u", width, decimals);
  return n < 0 ? 0 : n;
}

bool SetAxisFormatDigits(NcAxisTable& table, NcSettings& settings, unsigned cs, char letter,
                         unsigned width, unsigned decimals, bool metric) {
  const NcAxis* found = table.FindLetter(cs, letter);
  if (found == nullptr) return false;
  NcAxis& a = table.axes[static_cast<std::size_t>(found - table.axes.data())];
  std::string text = Format("%u.%u", width, decimals);
  if (text.size() > 9) text.resize(9);  // the format field holds nine characters
  ChosenFormat(a, metric) = text;
  const char* name = a.Rotary() ? "format_deg" : (metric ? "format_mm" : "format_in");
  settings.SetText(a.section, name, text);
  BuildAxisFormats(&a);
  return true;
}

std::string FormatAxisValue(const NcAxisTable& table, unsigned cs, const NcAxis& axis,
                            double value) {
  if (axis.Rotary()) return Format(axis.displayDeg.c_str(), value);
  const bool program_metric = cs <= 1 && table.unitsCode[cs] == table.metricInputCode;
  if (program_metric) {
    if (!axis.metricUnits) value *= kMmPerInch;
    return Format(axis.displayMm.c_str(), value);
  }
  if (axis.metricUnits) value *= kInchPerMm;
  return Format(axis.displayInch.c_str(), value);
}

void DefineAxis(NcCardSide& card, const NcAxis& a) {
  if (a.isSpindle == 1 && a.letter == 'S') {
    card.SendCommand(Format("&4#%d->%lf%c", static_cast<int>(a.motorNumber), a.pulsePerUnit, 'X'));
  } else {
    card.SendCommand(Format("&%u#%d->%lf%c", a.coordSys + 1, static_cast<int>(a.motorNumber),
                            a.pulsePerUnit, a.letter));
  }
  card.Pause(30);
}

void SetAxisMaxSpeed(NcCardSide& card, const NcAxis& a, double units_per_minute) {
  card.SendCommand(Format("i%d16=%lf", static_cast<int>(a.motorNumber),
                          std::fabs(units_per_minute * a.pulsePerUnit * kPerMinuteToPerMs)));
}

void SetAxisJogSpeed(NcCardSide& card, const NcAxis& a, double units_per_minute) {
  card.SendCommand(Format("i%d22=%f", static_cast<int>(a.motorNumber),
                          units_per_minute * a.pulsePerUnit * kPerMinuteToPerMs));
}

void SetupAxisMotor(NcCardSide& card, const NcAxis& a) {
  const int m = static_cast<int>(a.motorNumber);
  const double s = a.pulsePerUnit;
  card.SendCommand("close");
  card.SendCommand(Format("i%d00=1", m));
  card.SendCommand(Format("i%d06=0", m));
  card.SendCommand(Format("i%d11=%lf", m, std::fabs(a.fatalFollow * s * 16)));
  card.SendCommand(Format("i%d12=%lf", m, std::fabs(a.warnFollow * s * 16)));
  SetAxisMaxSpeed(card, a, a.maxRapid);
  SetAxisJogSpeed(card, a, a.jogSpeed[0]);
  if (a.Rotary()) {
    card.SendCommand(Format("i%d27=%lf", m, s * 360));
  } else {
    card.SendCommand(Format("i%d27=0", m));
  }
  card.SendCommand(Format("i%d28=%lf", m, std::fabs(a.inpositionBand * s * 16)));
}

void StopAxisJog(NcCardSide& card, const NcAxis* a) {
  if (a == nullptr) return;
  card.SendCommand(Format("#%dJ/", static_cast<int>(a->motorNumber)));
}

void SetMasterScale(NcCardSide& card, const NcAxis& a, int mode, double ratio) {
  const unsigned m = a.motorNumber;
  const double least = 1.0 / a.pulsePerUnit;
  if (ratio < least) ratio = least;
  const std::string text = mode == 1 ? Format("I%u07=I%u08*%f", m, m, ratio * a.pulsePerUnit)
                                     : Format("I%u07=I%u08", m, m);
  card.SendCommand(text);
  card.StoreChange(text);
}

void JogAxis(NcCardSide& card, NcAxisTable& table, const NcAxis& a, char direction) {
  if (table.operationMode == 1 && card.MotorMotion(a.motorIndex) == 0) {
    card.SendCommand(Format("#%dJ%c", static_cast<int>(a.motorNumber), direction));
  }
  unsigned bit = 0;
  switch (direction) {
    case '+': bit = 7; break;
    case '-': bit = 8; break;
    case '/': bit = 9; break;
    case '=': bit = 10; break;
    default: return;
  }
  if (card.GetDprBit(kDprPanelBlock + kDprJogWordOffset, bit)) return;
  table.commandCopy[kDprJogWordOffset / 4] |= 1u << bit;
  card.SetDprBit(kDprCommandBlock + kDprJogWordOffset, bit, true);
}

bool IsAxisHomed(NcCardSide& card, const NcAxis* a) {
  if (a == nullptr) return false;
  if (a->letter == 'S') return true;
  return card.HomeComplete(a->motorIndex);
}

uint32_t GetAxisStatusBits(NcCardSide& card, const NcAxis& a) {
  uint32_t servo = 0, status = 0;
  bool older = false;
  card.MotorStatusWords(a.motorIndex, &servo, &status, &older);
  // Bytes of the servo word: S0 its bits 8-15, S1 its bits 16-23; S2 the low
  // 16 bits of the motor status word.
  const uint32_t s0 = (servo >> 8) & 0xFF, s1 = (servo >> 16) & 0xFFFF, s2 = status & 0xFFFF;
  const auto bit = [](uint32_t w, unsigned n) { return (w >> n) & 1u; };
  const bool activated = bit(s1, 7) != 0;
  uint32_t r = activated ? 0 : 1;
  if (bit(s2, 1)) r = activated ? 2 : 3;
  r |= bit(s2, 2) << 2;
  r |= (bit(s2, 10) ^ 1u) << 3;
  r |= bit(s2, 11) << 4;
  r |= bit(s1, 6) << 5;
  r |= bit(s1, 5) << 6;
  r |= bit(s1, 2) << 7;
  r |= bit(s2, 3) << 8;
  r |= bit(s0, 6) << 10;
  r |= bit(s2, 8) << 11;
  r |= bit(s2, 5) << 12;
  r |= bit(s2, 6) << 13;
  if (older && bit(status, 14) == 0) r |= 1u << 9;
  return r;
}

void UpdateAxisPosition(NcCardSide& card, NcAxisTable& table, unsigned cs, int address) {
  NcAxis* a = table.FindAt(cs, address);
  if (a == nullptr || a->addressCode > 8) return;
  const bool rotary = a->Rotary();
  const bool diameter =
      table.machineType == kMachineLathe && table.diameterProgramming && a->letter == 'X';
  const double r = table.origin[cs][static_cast<std::size_t>(address)];
  const unsigned k = a->motorIndex;
  const double s = a->pulsePerUnit;

  const uint32_t mode = card.GetDprBits(kDprPanelBlock, 4, 4);
  double b = card.BiasPosition(k, s);
  if (rotary) b = Rotary360(b);
  const double h = card.MasterPosition(k, s);
  const double n = card.NetActualPosition(k, s);

  double machine = n - b + h;
  if (rotary) machine = Rotary360(machine);
  double commanded = mode == kModeManual ? card.MotorCommandedPosition(k, s) + b
                                         : card.CommandedPosition(cs, a->letter);
  if (rotary) commanded = Rotary360(commanded);
  double absolute = machine + b - h;
  if (diameter) absolute *= 2;
  double relative = machine - r;
  if (diameter) relative *= 2;

  a->position[kPosMachine] = machine;
  a->position[kPosCommanded] = commanded;
  a->position[kPosAbsolute] = absolute;
  a->position[kPosDistanceToGo] = mode == kModeManual ? 0.0 : commanded - absolute;
  a->position[kPosFollowingError] = card.FollowingError(k, s);
  a->position[kPosRelative] = relative;
}

void UpdateAllAxisPositions(NcCardSide& card, NcAxisTable& table) {
  for (unsigned cs = 0; cs < table.numCoordSys && cs < 2; ++cs) {
    for (int address = 0; address <= 8; ++address) UpdateAxisPosition(card, table, cs, address);
  }
}

double GetAxisPosition(NcCardSide& card, NcAxisTable& table, unsigned cs, int address,
                       int kind) {
  NcAxis* a = table.FindAt(cs, address);
  if (a == nullptr || kind < 0 || kind > kPosFollowingError) return 0.0;
  UpdateAxisPosition(card, table, cs, address);
  return a->position[static_cast<std::size_t>(kind)];
}

}  // namespace zimo::nc
