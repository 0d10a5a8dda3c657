// The card's motors: a servo clock and a simple plant per motor. Closed loop,
// the actual position follows the commanded one with a first-order lag, so
// a moving motor shows a following error; jogs ramp the commanded velocity
// with the motor's acceleration. Positions are in counts, velocities in
// counts per millisecond. After every step the motors publish their status
// words and positions into card memory where the host reads them.
#pragma once

#include <cstdint>
#include <vector>

#include "cardsim/card_model.h"
#include "cardsim/memory.h"
#include "cardsim/variables.h"

namespace zimo::cardsim {

// Servo status word (X memory) bits.
namespace servo_bit {
inline constexpr uint32_t kActivated = 1u << 23;
inline constexpr uint32_t kNegativeLimit = 1u << 22;
inline constexpr uint32_t kPositiveLimit = 1u << 21;
inline constexpr uint32_t kAmpEnabledSpran = 1u << 19;
inline constexpr uint32_t kOpenLoop = 1u << 18;
inline constexpr uint32_t kDefiniteMove = 1u << 17;
inline constexpr uint32_t kVelocityZero = 1u << 13;
inline constexpr uint32_t kHomeSearch = 1u << 10;
}  // namespace servo_bit

// Motor status word (Y memory) bits.
namespace motor_bit {
inline constexpr uint32_t kInPosition = 1u << 0;
inline constexpr uint32_t kWarnFollowingError = 1u << 1;
inline constexpr uint32_t kFatalFollowingError = 1u << 2;
inline constexpr uint32_t kAmpFault = 1u << 3;
inline constexpr uint32_t kI2TFault = 1u << 5;
inline constexpr uint32_t kIntegratedFollowingError = 1u << 6;
inline constexpr uint32_t kSoftLimit = 1u << 11;  // beyond Ixx13 or Ixx14
inline constexpr uint32_t kHomeComplete = 1u << 10;
inline constexpr uint32_t kAmpEnabledOlder = 1u << 14;
}  // namespace motor_bit

class Motors {
 public:
  Motors(const CardModel& model, Variables& vars, Memory& memory);

  int count() const { return static_cast<int>(motors_.size()); }
  bool Valid(int motor) const { return motor >= 1 && motor <= count(); }

  // Motor commands; motors are numbered from 1. A motor whose Ixx00 is 0
  // ignores them, as the card does.
  void JogPositive(int motor);
  void JogNegative(int motor);
  void JogStop(int motor);                   // J/: stop and hold (closes the loop)
  void JogReturn(int motor);                 // J=: back to the position before the last jog
  void JogTo(int motor, double position);    // J=n
  void JogBy(int motor, double distance);    // J:n, relative to the commanded position
  void Home(int motor);                      // HM
  void HomeHere(int motor);                  // the commanded position becomes the zero
  void Kill(int motor);                      // K
  void OpenLoop(int motor, double percent);  // On
  void KillAll();
  void StopAll();  // ends every jog and home search, holding position

  double Position(int motor) const;  // actual, counts
  double CommandedPosition(int motor) const;
  double Velocity(int motor) const;        // actual, counts per servo cycle
  double FollowingError(int motor) const;  // commanded - actual, counts
  uint32_t ServoStatus(int motor) const;
  uint32_t MotorStatus(int motor) const;
  bool InPosition(int motor) const;

  // A motion program sets the commanded position (counts, the motor's
  // frame) and velocity (counts/ms) each cycle; the plant follows. Any
  // motor command ends this; Release holds the motor where it is.
  void Drive(int motor, double position, double velocity);
  void Release(int motor);
  bool ClosedLoop(int motor) const;
  // True while the motor runs in open loop ("On"), not killed.
  bool InOpenLoop(int motor) const {
    return Valid(motor) && motors_[motor - 1].mode == Mode::kOpen;
  }

  // Scripting: a limit switch, and plant faults (a steady load in
  // counts/ms^2, or a plant that does not move at all).
  void SetLimitSwitch(int motor, bool positive, bool on);
  void SetPlantFault(int motor, double load, bool stuck);

  // The coordinate system a motor serves (0: none); it shows in the motor
  // status word. Scripted extra status bits are ORed into the two words.
  void SetAssignment(int motor, int coord);
  void SetScriptedBits(int motor, uint32_t servo_bits, uint32_t motor_bits);
  // The output the motor applies now, in output units (the DAC value).
  int32_t Output(int motor) const;
  // Scripting: place a motor's plant at a position (commanded and actual).
  void SetPosition(int motor, double position);
  // A lab plant's encoder: the motor's actual position comes from outside
  // (counts in the plant's frame) instead of its own plant.
  void SetExternalPosition(int motor, double counts);

  // One step of the servo clock per cycle.
  void Advance(int cycles);

  // Card addresses of motor m (1-based) words, by generation.
  uint32_t ServoStatusAddress(int motor) const;
  uint32_t MotorStatusAddress(int motor) const;
  uint32_t CommandedAddress(int motor) const;
  uint32_t ActualAddress(int motor) const;
  uint32_t OutputAddress(int motor) const;          // X: the output word
  // X: the settle word (following error + travel in the last cycle), 1/(Ixx09 x 32) count
  uint32_t FollowingErrorAddress(int motor) const;

 private:
  enum class Mode { kClosed, kOpen, kKilled };
  struct Motor {
    Mode mode = Mode::kClosed;
    double cmd = 0;          // commanded position, plant frame (counts)
    double act = 0;          // actual position, plant frame
    double cmd_vel = 0;      // counts/ms
    double act_vel = 0;      // counts/ms
    double target_vel = 0;   // jog velocity asked for
    bool to_target = false;  // a jog or home move to `target`
    double target = 0;
    bool homing = false;
    bool home_complete = false;
    double home_offset = 0;  // reported = plant - home_offset
    double pre_jog = 0;      // reported position before the last jog
    double output = 0;       // open-loop output, output units (the output word)
    double servo_out = 0;    // the output the servo or the open loop applied last
    double integral = 0;     // of the following error, counts x ms
    double load = 0;         // scripted load, counts/ms^2
    bool stuck = false;      // scripted: the plant does not move
    bool external = false;   // the position comes from a lab plant
    double external_pos = 0;
    bool switch_positive = false, switch_negative = false;  // scripted limit switches
    bool fatal = false;
    bool warn = false;
    bool driven = false;  // a motion program sets cmd
    int coord = 0;        // the coordinate system it serves (0: none)
    uint32_t scripted_servo = 0, scripted_motor = 0;
    int64_t published_cmd = 0;      // the commanded-position word as last written
    uint32_t published_output = 0;  // the output word as last written
  };
  void AdoptCommandedWord(int motor, Motor& m);
  void AdoptOutputWord(int motor, Motor& m);
  double ServoOutput(int motor, const Motor& m, double cmd, double cmd_acc) const;
  void Plant(int motor, Motor& m, double dt, double cmd_from, double cmd_acc);
  bool Active(int motor) const;
  double I(int motor, int k) const;
  double CycleMs() const;
  void Step(int motor, Motor& m, double dt);
  void Publish(int motor);
  void PublishAll();
  void StartMove(int motor, Motor& m);
  // The current loop (current_loop.cc): the motor's currents follow their
  // commands each cycle and show in its current words.
  struct Currents {
    double direct = 0, quadrature = 0;  // output units
  };
  void CurrentLoop(int motor, const Motor& m, double dt);
  std::vector<Currents> currents_;

  const CardModel& model_;
  Variables& vars_;
  Memory& memory_;
  std::vector<Motor> motors_;
};

}  // namespace zimo::cardsim
