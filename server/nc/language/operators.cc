#include "nc/language/operators.h"

#include <cmath>
#include <cstdint>

#include "nc/language/error_ids.h"
#include "nc/language/nc_types.h"
#include "nc/language/scanner.h"
#include "nc/language/tokens.h"

namespace zimo::nc {

namespace {

constexpr double kDegreesToRadians = 0.01745329251994;
constexpr double kRadiansToDegrees = 57.29577951308;
constexpr double kTolerance = 1e-9;
constexpr double kExpLimit = 709.782712893;

bool Equal(double left, double right) {
  const double low = right == kVacant ? right : right - kTolerance;
  return low <= left && left <= right + kTolerance;
}

double VacantAsZero(double x) { return x == kVacant ? 0.0 : x; }

}  // namespace

int32_t TruncateToInt32(double x) {
  if (!(x > -2147483649.0 && x < 2147483648.0)) return INT32_MIN;
  return static_cast<int32_t>(x);
}

double RoundHalfAway(double x) { return x >= 0 ? std::floor(x + 0.5) : std::ceil(x - 0.5); }

double RoundToDecimals(int count, double x) {
  if (count <= 0) return RoundHalfAway(x);
  const double scale = count >= 9 ? 1e9 : std::pow(10.0, count);
  const double a = std::fabs(x);
  const double whole = std::floor(a);
  const double steps = RoundHalfAway((a - whole) * scale);
  // One division where the whole part scales exactly: 1.235, not 1 + 0.235.
  const double r = whole * scale < 9007199254740992.0 ? (whole * scale + steps) / scale
                                                      : whole + steps / scale;
  return x < 0 ? -r : r;
}

uint32_t ApplyOperator(int token, NcOperandStack& s, const NcLineCursor& cursor) {
  if (token < 1 || token > 36 || token == kTokOpen || token == kTokClose || token == 21 ||
      token == kTokPclos || token == kTokPopen || token == kTokDprnt) {
    return 0;
  }
  const bool binary = token <= kTokDiv || (token >= kTokEq && token <= kTokXor);
  if (s.size < (binary ? 2 : 1)) return kErrStackUnderflow;
  double& x = s.value[s.size - (binary ? 2 : 1)];
  if (binary) {
    const double right = s.value[s.size - 1];
    const double left = x;
    double r = 0.0;
    switch (token) {
      case kTokAdd: r = left + right; break;
      case kTokSub: r = left - right; break;
      case kTokMul: r = left * right; break;
      case kTokDiv:
        if (right == 0.0) return kErrDivisionByZero;
        r = left / right;
        break;
      case kTokEq: r = Equal(left, right) ? 1.0 : 0.0; break;
      case kTokNe: r = Equal(left, right) ? 0.0 : 1.0; break;
      case kTokGe: r = VacantAsZero(left) >= VacantAsZero(right) ? 1.0 : 0.0; break;
      case kTokGt: r = VacantAsZero(left) > VacantAsZero(right) ? 1.0 : 0.0; break;
      case kTokLe: r = VacantAsZero(left) <= VacantAsZero(right) ? 1.0 : 0.0; break;
      case kTokLt: r = VacantAsZero(left) < VacantAsZero(right) ? 1.0 : 0.0; break;
      case kTokMod: {
        const double l = RoundHalfAway(left);
        const double m = std::fabs(RoundHalfAway(right));
        if (m == 0.0) return kErrDivisionByZero;
        r = std::fmod(l, m);
        break;
      }
      default: {  // AND, OR, XOR on 32-bit integers, read back unsigned
        const auto a = static_cast<uint32_t>(TruncateToInt32(left));
        const auto b = static_cast<uint32_t>(TruncateToInt32(right));
        const uint32_t v = token == kTokAnd ? (a & b) : token == kTokOr ? (a | b) : (a ^ b);
        r = static_cast<double>(v);
        break;
      }
    }
    x = r;
    --s.size;
    return 0;
  }
  switch (token) {
    case kTokPlus: break;
    case kTokMinus: x = -x; break;
    case kTokHash: {
      if (!(x >= 0.0 && x <= 7400.0)) return kErrVariableReference;
      double v = 0.0;
      if (cursor.env == nullptr ||
          !cursor.env->ReadVariable(cursor.cs, static_cast<int>(x), &v)) {
        return kErrVariableReference;
      }
      x = v;
      break;
    }
    case kTokAbs: x = std::fabs(x); break;
    case kTokAcos:
    case kTokAsin:
      if (!(x >= -1.0 && x <= 1.0)) return kErrFunctionParameter;
      x = (token == kTokAcos ? std::acos(x) : std::asin(x)) * kRadiansToDegrees;
      break;
    case kTokAtan: x = std::atan(x) * kRadiansToDegrees; break;
    case kTokCos: x = std::cos(x * kDegreesToRadians); break;
    case kTokExp:
      if (x > kExpLimit) return kErrFunctionParameter;
      x = std::exp(x);
      break;
    case kTokFix: x = x >= 0 ? std::floor(x) : std::ceil(x); break;
    case kTokFup: x = x >= 0 ? std::ceil(x) : std::floor(x); break;
    case kTokLn:
      if (!(x > 0.0)) return kErrFunctionParameter;
      x = std::log(x);
      break;
    case kTokRound:
      if (cursor.word_slot < kSlotNone && cursor.env != nullptr) {
        x = RoundToDecimals(cursor.env->AxisFormatDigits(cursor.cs, cursor.word_slot), x);
      } else {
        x = RoundHalfAway(x);
      }
      break;
    case kTokSin: x = std::sin(x * kDegreesToRadians); break;
    case kTokSqrt:
      if (x < 0.0) return kErrRootOfNegative;
      x = std::sqrt(x);
      break;
    case kTokTan: x = std::tan(x * kDegreesToRadians); break;
    default: break;
  }
  return 0;
}

}  // namespace zimo::nc
