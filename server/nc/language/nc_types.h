// Values shared by every layer of the NC interpreter: the address letters of a
// block, the vacant value of a macro variable, the error modes and kinds, and
// the one narrow interface through which the language and translator layers
// reach the card side (the runtime implements it; tests fake it).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zimo::nc {

// The value of a macro variable that holds nothing.
inline constexpr double kVacant = -1.7e308;

// Address slots of a block record, in the order of the letters
// "ABCXYZUVWEFGHDIJKLPQMNORST"; kSlotNone for anything else.
enum NcAddress : int {
  kSlotA = 0, kSlotB, kSlotC, kSlotX, kSlotY, kSlotZ, kSlotU, kSlotV, kSlotW, kSlotE,
  kSlotF, kSlotG, kSlotH, kSlotD, kSlotI, kSlotJ, kSlotK, kSlotL, kSlotP, kSlotQ,
  kSlotM, kSlotN, kSlotO, kSlotR, kSlotS, kSlotT, kSlotNone = 26
};
inline constexpr int kAddressSlots = 27;
// "?" stands before slot 0, so the letter of slot n is at position n + 1.
inline constexpr char kAddressNames[] = "?ABCXYZUVWEFGHDIJKLPQMNORST";

// The slot of a character: capital letters only, 26 for anything else.
int AddressSlot(char c);

// How grave a recorded error is, and where it comes from.
enum class NcErrorMode : uint32_t { kMessage = 0, kWarning = 1, kStop = 2, kFatal = 3 };
enum class NcErrorType : uint32_t {
  kSystem = 0, kMotor = 1, kCode = 2, kCommon = 3, kPlc = 4, kOperatorMessage = 5
};

// No axis: the axis field of an error holds a blank.
inline constexpr char kNoAxis = ' ';

struct NcErrorReport {
  uint32_t id = 0;
  NcErrorMode mode = NcErrorMode::kFatal;
  NcErrorType type = NcErrorType::kCode;
  uint32_t line = 0;
  char axis = kNoAxis;
  std::string text;
};

// What these layers need of the card side. Every call comes from the thread
// that asks (the parser thread, a worker or a client's search); the runtime
// takes whatever locks the card needs.
class NcCardSide {
 public:
  virtual ~NcCardSide() = default;
  // Adds a record to the controller's error list (cs: coordinate system).
  virtual void RecordError(unsigned cs, const NcErrorReport& report) = 0;
  // Queues one line of card text behind the blocks already queued for cs.
  virtual void QueueCardLine(unsigned cs, std::string_view text) = 0;

  // Card commands: one line sent at once, its reply discarded.
  virtual void SendCommand(std::string_view line) = 0;
  // Appends a sent command text to the card's change ring, so that other
  // processes see the change.
  virtual void StoreChange(std::string_view line) = 0;
  // A pause of the calling thread (a dry run returns at once).
  virtual void Pause(unsigned milliseconds) = 0;
  // The card's I-variable `number`, or `default_value` when it does not answer.
  virtual int16_t GetIVariable(unsigned number, int16_t default_value) = 0;

  // Dual-ported RAM, by byte offset: `count` bits from `first` of the dword at
  // `offset`; one bit; setting or clearing one bit.
  virtual uint32_t GetDprBits(uint32_t offset, unsigned first, unsigned count) = 0;
  virtual bool GetDprBit(uint32_t offset, unsigned bit) = 0;
  virtual void SetDprBit(uint32_t offset, unsigned bit, bool value) = 0;

  // Motor values of the shared real-time copy, motor index 0..7, positions in
  // axis units for `scale` counts per unit.
  virtual double BiasPosition(unsigned motor, double scale) = 0;
  virtual double MasterPosition(unsigned motor, double scale) = 0;
  virtual double NetActualPosition(unsigned motor, double scale) = 0;
  virtual double MotorCommandedPosition(unsigned motor, double scale) = 0;
  virtual double FollowingError(unsigned motor, double scale) = 0;
  // Not 0 while the motor moves.
  virtual uint32_t MotorMotion(unsigned motor) = 0;
  virtual bool HomeComplete(unsigned motor) = 0;
  // The motor's two 24-bit status words (servo, then motor status) and whether
  // the card is of the older generation (type below 4).
  virtual void MotorStatusWords(unsigned motor, uint32_t* servo, uint32_t* status,
                                bool* older_card) = 0;
  // The commanded position of axis `letter` of coordinate system cs, from the
  // card's background copy.
  virtual double CommandedPosition(unsigned cs, char letter) = 0;
};

}  // namespace zimo::nc
