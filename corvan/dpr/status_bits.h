// The status bits that both the readers of the host copies (ZimoDPR<Name>)
// and the status queries that pick DPR or ASCII (Zimo<Name>) answer, each
// named once with where it sits. Each list entry expands, through the
// macro a source file passes in, into that file's exported function.
#pragma once

namespace zimo::corvan {

// The two status words of a motor.
enum class MotorWord { kServo, kMotor };

// Where a motor's bit sits on SPRAN cards and on older cards.
struct MotorStatusBit {
  MotorWord spran_word;
  int spran_bit;
  MotorWord older_word;
  int older_bit;
};

// The two status words of a coordinate system: the program word (the ASCII
// reply's first word) and the second word. A bit sits at the same place on
// every card.
enum class SystemWord { kProgram, kSecond };

}  // namespace zimo::corvan

// X(Name, SPRAN word, SPRAN bit, older word, older bit)
#define ZIMO_MOTOR_STATUS_BITS(X)            \
  X(MotorEnabled, kServo, 23, kServo, 23)    \
  X(OnNegativeLimit, kServo, 22, kServo, 22) \
  X(OnPositiveLimit, kServo, 21, kServo, 21) \
  X(HandwheelEnabled, kServo, 4, kServo, 20) \
  X(PhasedMotor, kServo, 6, kServo, 19)      \
  X(OpenLoop, kServo, 18, kServo, 18)        \
  X(DataBlock, kServo, 14, kServo, 14)       \
  X(AmpEnabled, kServo, 19, kMotor, 14)      \
  X(Inposition, kMotor, 0, kMotor, 0)        \
  X(WarnFError, kMotor, 1, kMotor, 1)        \
  X(FatalFError, kMotor, 2, kMotor, 2)       \
  X(AmpFault, kMotor, 3, kMotor, 3)          \
  X(HomeComplete, kMotor, 10, kMotor, 10)    \
  X(OnPositionLimit, kMotor, 11, kMotor, 11)

// X(Name, word, bit)
#define ZIMO_SYSTEM_STATUS_BITS(X)  \
  X(ProgRunning, kProgram, 0)       \
  X(ProgStepping, kProgram, 1)      \
  X(ProgContMotion, kProgram, 2)    \
  X(ProgContRequest, kProgram, 4)   \
  X(RotBufFull, kSecond, 16)        \
  X(SysInposition, kSecond, 17)     \
  X(SysWarnFError, kSecond, 18)     \
  X(SysFatalFError, kSecond, 19)    \
  X(SysAmpFaultError, kSecond, 20)  \
  X(SysCircleRadError, kSecond, 21) \
  X(SysRunTimeError, kSecond, 22)
