#include "automation/bstr.h"

#include "platform/codepage.h"

namespace zimo::automation {

Bstr Bstr::FromUtf8(std::string_view text) { return Bstr(platform::Utf8ToUtf16(text)); }

Bstr Bstr::FromAnsi(std::string_view text) { return Bstr(platform::Cp1252ToUtf16(text)); }

std::string Bstr::ToUtf8() const { return platform::Utf16ToUtf8(view()); }

std::string Bstr::ToAnsi() const { return platform::Utf16ToCp1252(view()); }

}  // namespace zimo::automation
