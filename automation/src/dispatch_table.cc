#include "automation/dispatch_table.h"

#include <cstdio>
#include <cstdlib>

namespace zimo::automation::dispatch_detail {

void BadBinding(std::string_view interface_name, std::string_view member, const char* why) {
  std::fprintf(stderr, "automation: %.*s::%.*s %s\n", static_cast<int>(interface_name.size()),
               interface_name.data(), static_cast<int>(member.size()), member.data(), why);
  std::abort();
}

HRESULT FromException(const std::exception& e, ExcepInfo* excep) {
  if (excep != nullptr) {
    const auto* de = dynamic_cast<const DispatchException*>(&e);
    excep->code = de != nullptr ? de->code() : 0;
    excep->description = Bstr::FromUtf8(e.what());
  }
  return DISP_E_EXCEPTION;
}

}  // namespace zimo::automation::dispatch_detail
