// The axes of an NC controller: the axis record read from the settings store,
// its declaration to the card (axis definition, motor set-up), its display
// formats, its six positions computed from the card's shared memory, and the
// small card commands acting on one axis (jog, handwheel scale, speeds).
// Everything reaches the card through NcCardSide; no locks are taken here.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "nc/language/nc_types.h"

namespace zimo::nc {

class NcSettings;

// Kinds of axis position.
enum NcPosType : int {
  kPosAbsolute = 0, kPosRelative, kPosMachine, kPosCommanded, kPosDistanceToGo,
  kPosFollowingError
};

inline constexpr int kMaxAxes = 9;
inline constexpr int kSpindleAddress = 24;
inline constexpr int kMachineLathe = 2;
inline constexpr int kModeManual = 2;

// Panel block and the controller's command block in the card's memory, and the
// dword of each that carries the jog requests.
inline constexpr uint32_t kDprPanelBlock = 0x3780;
inline constexpr uint32_t kDprCommandBlock = 0x37C0;
inline constexpr uint32_t kDprJogWordOffset = 8;

struct NcAxis {
  bool display = true;
  bool metricUnits = false;
  uint32_t mirrorActive = 0;
  double inpositionBand = 0.025;
  double pulsePerUnit = 1000.0;
  double maxRapid = 300.0;
  double maxFeed = 200.0;
  uint16_t outputLimit = 32767;
  uint32_t isSpindle = 0;
  uint32_t spindleMaxLimit = 6000;
  uint32_t spindleMaxRpm = 1000;
  double spindleRatio = 1.0;
  double fatalFollow = 0.025;
  double warnFollow = 0.015;
  std::array<double, 5> jogSpeed{5.0, 10.0, 20.0, 50.0, 100.0};
  uint32_t coordSys = 0;
  uint32_t motorNumber = 0;
  uint32_t motorIndex = 0;
  uint32_t addressCode = 3;
  char letter = 'X';
  std::array<double, 8> position{};
  uint32_t precision = 6;
  std::string section;
  std::string formatInch = "9.4";
  std::string unitInch = "IN";
  std::string displayInch;
  std::string formatMm = "9.3";
  std::string unitMm = "MM";
  std::string displayMm;
  std::string formatDeg = "9.3";
  std::string unitDeg = "DEG";
  std::string displayDeg;
  bool displayCombined = false;
  char combinedLetter = 'X';
  uint32_t reserved = 0;
  bool feedRateAxis = true;

  bool Rotary() const { return addressCode < 3; }
};

// Maps an axis letter (either case) to its address code; rotary letters
// come first, the spindle S has its own code, unknown letters count as X.
uint32_t AxisAddressCode(char letter);

// Reads the axis `letter` of coordinate system cs; false when it is not
// enabled or its motor lies outside 0..7 (then nothing else is read). Asks the
// card for the motor's output limit I(m)69.
bool InitAxis(NcCardSide& card, const NcSettings& settings, NcAxis* axis, unsigned cs,
              char letter);
void ReadAxisSettings(const NcSettings& settings, NcAxis* axis);
void BuildAxisFormats(NcAxis* axis);

// The controller's axes and the values of the controller that they read.
struct NcAxisTable {
  std::array<NcAxis, kMaxAxes> axes{};
  int count = 0;
  // Index into axes per coordinate system and address code A..W, -1 none.
  std::array<std::array<int, 9>, 2> slot{{{-1, -1, -1, -1, -1, -1, -1, -1, -1},
                                          {-1, -1, -1, -1, -1, -1, -1, -1, -1}}};
  int spindleAxis = -1;
  uint32_t numCoordSys = 1;
  // Origin of the relative position per coordinate system and address code.
  std::array<std::array<float, 9>, 2> origin{};
  int machineType = 1;
  bool diameterProgramming = false;
  uint32_t operationMode = 1;
  // The configured metric code of modal group 6 and the current code per
  // coordinate system.
  uint32_t metricInputCode = 21;
  std::array<uint32_t, 2> unitsCode{20, 20};
  // The controller's copy of the command block at kDprCommandBlock (dwords).
  std::array<uint32_t, 16> commandCopy{};

  // The axis of (cs, address code A..W), null when none.
  NcAxis* FindAt(unsigned cs, int address);
  const NcAxis* FindLetter(unsigned cs, char letter) const;
};

// "%c%%%sf" of the axis's format of choice (degrees for a rotary axis, mm when
// `metric`, else inch); text untouched when the axis does not exist.
void GetAxisFormatText(const NcAxisTable& table, unsigned cs, char letter, std::string* text,
                       bool metric);
// Reads width and decimals of that format; the count of numbers read, 0 when
// the axis does not exist.
int GetAxisFormatDigits(const NcAxisTable& table, unsigned cs, char letter, unsigned* width,
                        unsigned* decimals, bool metric);
// Writes "width.decimals" into that format, stores it in the axis's section
// and rebuilds the display formats. False when the axis does not exist.
bool SetAxisFormatDigits(NcAxisTable& table, NcSettings& settings, unsigned cs, char letter,
                         unsigned width, unsigned decimals, bool metric);
// The value as displayed: display format of the axis, converted to the unit
// the coordinate system's program currently uses for a linear axis.
std::string FormatAxisValue(const NcAxisTable& table, unsigned cs, const NcAxis& axis,
                            double value);

void DefineAxis(NcCardSide& card, const NcAxis& axis);
void SetupAxisMotor(NcCardSide& card, const NcAxis& axis);
void SetAxisMaxSpeed(NcCardSide& card, const NcAxis& axis, double units_per_minute);
void SetAxisJogSpeed(NcCardSide& card, const NcAxis& axis, double units_per_minute);
void StopAxisJog(NcCardSide& card, const NcAxis* axis);
void SetMasterScale(NcCardSide& card, const NcAxis& axis, int mode, double ratio);
// direction: '+', '-', '/' or '='.
void JogAxis(NcCardSide& card, NcAxisTable& table, const NcAxis& axis, char direction);
bool IsAxisHomed(NcCardSide& card, const NcAxis* axis);
// The axis's status in one bit set: bits 0-1 activation and warning following
// error (0 active, 1 not activated, 2 warning while active, 3 warning while
// not activated), 2 fatal following error, 3 home not complete, 4 stopped on
// a position limit, 5 negative end limit, 6 positive end limit, 7 open loop,
// 8 amplifier fault, 9 amplifier off (older cards only), 10 data block error,
// 11-13 raw motor status bits 8, 5 and 6.
uint32_t GetAxisStatusBits(NcCardSide& card, const NcAxis& axis);

void UpdateAxisPosition(NcCardSide& card, NcAxisTable& table, unsigned cs, int address);
void UpdateAllAxisPositions(NcCardSide& card, NcAxisTable& table);
// Refreshes and returns position `kind` of (cs, address); 0.0 when empty.
double GetAxisPosition(NcCardSide& card, NcAxisTable& table, unsigned cs, int address,
                       int kind);

}  // namespace zimo::nc
