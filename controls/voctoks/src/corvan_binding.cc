#include "corvan_binding.h"

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/message.h"

namespace zimo::voctoks {

const char* const kCorvanFunctionNames[kCorvanFunctionCount] = {
    "DrvNumberOfDevices",
    "OpenZimoDevice",
    "CloseZimoDevice",
    "ZimoGetDpramAvailable",
    "ZimoGetError",
    "ZimoGetErrorStrA",
    "ZimoAbortDownload",
    "ZimoDownloadA",
    "ZimoFlush",
    "LockZimo",
    "ReleaseZimo",
    "ZimoReadReady",
    "ZimoSendLineA",
    "ZimoGetLineA",
    "ZimoSetMaxDownloadErrors",
    "ZimoGetControlResponseExA",
    "ZimoGetBufferA",
    "ZimoGetResponseExA",
    "ZimoSendCharA",
    "ZimoSelect",
    "GetUSResponse",
    "USReadReady",
    "ZimoDPRFloat",
    "ZimoDPRLFixed",
    "ZimoDPRGetWord",
    "ZimoDPRSetWord",
    "ZimoDPRGetDWord",
    "ZimoDPRSetDWord",
    "ZimoDPRGetFloat",
    "ZimoDPRSetFloat",
    "ZimoDPRDWordBitSet",
    "ZimoDPRResetDWordBit",
    "ZimoDPRSetDWordBit",
    "ZimoDPRAsciiStrToRotA",
    "ZimoDPRRotBufClr",
    "ZimoDPRRotBuf",
    "ZimoDPRRotBufChange",
    "ZimoDPRRotBufInit",
    "ZimoDPRBufLast",
    "ZimoDPRRotBufRemove",
};

namespace {
std::mutex name_mu;
std::string& LibraryName() {
  static std::string name = "Corvan32.dll";
  return name;
}
}  // namespace

CorvanFunctions& Corvan() {
  static CorvanFunctions table{};
  return table;
}

std::string CorvanLibraryName() {
  std::lock_guard lock(name_mu);
  return LibraryName();
}

void SetCorvanLibraryName(std::string name) {
  std::lock_guard lock(name_mu);
  LibraryName() = std::move(name);
}

platform::Module BindCorvanLibrary() {
  auto module = platform::Module::Load(CorvanLibraryName());
  if (!module.ok()) {
    platform::ShowMessageBox("Error in loading ZIMO library.", "ZIMO",
                             platform::kMbOk | platform::kMbIconError | platform::kMbTopmost);
    return {};
  }
  // The table's members are function pointers in the order of the names.
  static_assert(sizeof(CorvanFunctions) == kCorvanFunctionCount * sizeof(void*));
  char* slots = reinterpret_cast<char*>(&Corvan());
  for (int i = 0; i < kCorvanFunctionCount; ++i) {
    auto address = module->Symbol(kCorvanFunctionNames[i]);
    if (!address.ok()) {
      char text[128];
      std::snprintf(text, sizeof text, "Error in loading library function: %s",
                    kCorvanFunctionNames[i]);
      platform::ShowMessageBox(text, "", platform::kMbOk | platform::kMbIconError);
      (void)module->Free();
      return {};
    }
    void* function = *address;
    std::memcpy(slots + i * sizeof(void*), &function, sizeof function);
  }
  return std::move(*module);
}

}  // namespace zimo::voctoks
