#include "automation/var_type.h"

#include <cstdio>

namespace zimo::automation {

std::string VarTypeText(VarType vt) {
  std::string out;
  if (vt & VT_BYREF) out += "VT_BYREF|";
  if (vt & VT_ARRAY) out += "VT_ARRAY|";
  VarType base = vt & VT_TYPEMASK;
  switch (base) {
    case VT_EMPTY: out += "VT_EMPTY"; break;
    case VT_NULL: out += "VT_NULL"; break;
    case VT_I2: out += "VT_I2"; break;
    case VT_I4: out += "VT_I4"; break;
    case VT_R4: out += "VT_R4"; break;
    case VT_R8: out += "VT_R8"; break;
    case VT_BSTR: out += "VT_BSTR"; break;
    case VT_DISPATCH: out += "VT_DISPATCH"; break;
    case VT_ERROR: out += "VT_ERROR"; break;
    case VT_BOOL: out += "VT_BOOL"; break;
    case VT_VARIANT: out += "VT_VARIANT"; break;
    case VT_UNKNOWN: out += "VT_UNKNOWN"; break;
    case VT_UI1: out += "VT_UI1"; break;
    case VT_I8: out += "VT_I8"; break;
    default: {
      char buf[16];
      std::snprintf(buf, sizeof buf, "VT_%u", static_cast<unsigned>(base));
      out += buf;
    }
  }
  return out;
}

}  // namespace zimo::automation
