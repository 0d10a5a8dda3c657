// Ids of the language errors the NC reports (texts in the message table).
#pragma once

#include <cstdint>

namespace zimo::nc {

inline constexpr uint32_t kMsgUnableToOpen = 0x40110016;
inline constexpr uint32_t kErrDivisionByZero = 0xC0110030;
inline constexpr uint32_t kErrRootOfNegative = 0xC0110031;
inline constexpr uint32_t kErrTermExpected = 0xC011003A;
inline constexpr uint32_t kErrValueStack = 0xC011003B;
inline constexpr uint32_t kErrOperatorExpected = 0xC011003C;
inline constexpr uint32_t kErrIllegalVariable = 0xC011003D;
inline constexpr uint32_t kErrInvalidAssignment = 0xC011003E;
inline constexpr uint32_t kErrUnbalanced = 0xC011003F;
inline constexpr uint32_t kErrConversionOverflow = 0xC0110040;
inline constexpr uint32_t kErrTooManyDigits = 0xC0110041;
inline constexpr uint32_t kErrOneAssignment = 0xC0110042;
inline constexpr uint32_t kErrAssignmentFirst = 0xC0110043;
inline constexpr uint32_t kErrOperandStack = 0xC0110045;
inline constexpr uint32_t kErrLineTooLong = 0xC0110046;
inline constexpr uint32_t kErrStackUnderflow = 0xC011004A;
inline constexpr uint32_t kErrFunctionParameter = 0xC011004B;
inline constexpr uint32_t kErrVariableReference = 0xC011004C;
inline constexpr uint32_t kErrAddressValue = 0xC011004E;

}  // namespace zimo::nc
