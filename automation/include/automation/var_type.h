// The kinds of value an automation argument can carry, with their standard
// numbers so that the same values appear in tables, on the wire and in logs.
#pragma once

#include <cstdint>
#include <string>

namespace zimo::automation {

using VarType = uint16_t;

inline constexpr VarType VT_EMPTY = 0;
inline constexpr VarType VT_NULL = 1;
inline constexpr VarType VT_I2 = 2;
inline constexpr VarType VT_I4 = 3;
inline constexpr VarType VT_R4 = 4;
inline constexpr VarType VT_R8 = 5;
inline constexpr VarType VT_BSTR = 8;
inline constexpr VarType VT_DISPATCH = 9;
inline constexpr VarType VT_ERROR = 10;
inline constexpr VarType VT_BOOL = 11;
inline constexpr VarType VT_VARIANT = 12;
inline constexpr VarType VT_UNKNOWN = 13;
inline constexpr VarType VT_UI1 = 17;
inline constexpr VarType VT_I8 = 20;
inline constexpr VarType VT_ARRAY = 0x2000;
inline constexpr VarType VT_BYREF = 0x4000;
inline constexpr VarType VT_TYPEMASK = 0x0FFF;

// Automation booleans: true is all bits set.
inline constexpr int16_t VARIANT_TRUE = -1;
inline constexpr int16_t VARIANT_FALSE = 0;

// Scalar kinds a value (or an array element) can have.
constexpr bool IsScalarType(VarType vt) {
  switch (vt) {
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_BSTR: case VT_ERROR:
    case VT_BOOL: case VT_UI1: case VT_I8:
      return true;
    default:
      return false;
  }
}

// Bytes per element of a plain-data kind; 0 for kinds that own memory.
constexpr uint32_t PlainSize(VarType vt) {
  switch (vt) {
    case VT_UI1: return 1;
    case VT_I2: case VT_BOOL: return 2;
    case VT_I4: case VT_R4: case VT_ERROR: return 4;
    case VT_R8: case VT_I8: return 8;
    default: return 0;
  }
}

// "VT_ARRAY|VT_I4" and the like, for messages.
std::string VarTypeText(VarType vt);

}  // namespace zimo::automation
