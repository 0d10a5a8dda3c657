#include "link/device_level_api.h"

#include <clocale>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "corvan/command_api.h"
#include "corvan/device_level_api.h"
#include "corvan/dpr_channel_api.h"
#include "corvan/registry_api.h"
#include "corvan/services_api.h"
#include "link/device_lock.h"
#include "link/device_registry.h"
#include "link/driver_services.h"
#include "link/library_app.h"
#include "platform/codepage.h"
#include "platform/message.h"
#include "platform/module.h"
#include "platform/process.h"

namespace zimo::corvan {
namespace {

constexpr char kDriverErrorCaption[] = "Driver Error";

struct ErrorReason {
  std::int32_t error;
  const char* load;  // null: the first sentence alone
  const char* unload;
};

constexpr ErrorReason kReasons[] = {
    {3, "\nThe service binary file could not be found.", nullptr},
    {5, "\nThe specified handle was not opened with SERVICE_START access.",
     "\nThe specified handle was not opened with the necessary access."},
    {6, "\nThe specified handle is invalid.", nullptr},
    {1051, nullptr,
     "\nThe service cannot be stopped because other running services are dependent on it."},
    {1052, nullptr,
     "\nThe requested control code is not valid, or it is unacceptable to the service."},
    {1053, "\nThe service did not respond to the start request in a timely fashion.",
     "\nThe service did not respond to the start request in a timely fashion."},
    {1054, "\nA thread could not be created for the service.", nullptr},
    {1055, "\nThe database is locked.", nullptr},
    {1056, "\nAn instance of the service is already running.", nullptr},
    {1058, "\nThe service has been disabled.", nullptr},
    {1061, nullptr,
     "\nThe requested control code cannot be sent to the service because the state of the "
     "service is:\nSERVICE_STOPPED, SERVICE_START_PENDING, or SERVICE_STOP_PENDING."},
    {1062, nullptr, "\nThe service has not been started."},
    {1068, "\nThe service depends on another service that has failed to start.", nullptr},
    {1069, "\nThe service could not be logged on.", nullptr},
    {1072, "\nThe service has been marked for deletion.", nullptr},
    {1075,
     "\nThe service depends on a service that does not exist or has been marked for deletion.",
     nullptr},
};

// Windows language names and the locales they stand for here.
struct LanguageLocale {
  const char* language;
  const char* locale;
};
constexpr LanguageLocale kLocales[] = {
    {"English", "en_US"}, {"German", "de_DE"},   {"French", "fr_FR"},     {"Italian", "it_IT"},
    {"Spanish", "es_ES"}, {"Japanese", "ja_JP"}, {"Chinese", "zh_CN"},    {"Korean", "ko_KR"},
    {"Dutch", "nl_NL"},   {"Swedish", "sv_SE"},  {"Portuguese", "pt_PT"},
};

// This process's language module slot.
std::mutex g_language_mutex;
void* g_language_module = nullptr;

// The loader's handle of the file that holds the library's own code.
void* OwnModule() {
  static void* own = platform::OpenModuleHandleOf(reinterpret_cast<const void*>(&OwnModule));
  return own;
}

void** LanguageSlot() {
  if (g_language_module == nullptr) g_language_module = OwnModule();
  return &g_language_module;
}

// The file a module handle was loaded from.
std::filesystem::path FileOfModule(void* module) { return platform::ModuleHandlePath(module); }

void ShowDriverError(bool load) {
  platform::ShowMessageBox(DriverErrorText(load, DrvLastServiceError()), kDriverErrorCaption,
                           platform::kMbOk);
}

SharedDeviceBlock* BlockOf(int device) {
  return IsRealDevice(device) ? App().Block(device) : nullptr;
}

}  // namespace

std::filesystem::path SatellitePath(const std::filesystem::path& module_file,
                                    std::string_view language) {
  char extension[8];
  std::snprintf(extension, sizeof extension, ".%.3s", std::string(language).c_str());
  std::filesystem::path satellite = module_file;
  satellite.replace_extension(extension);
  return satellite;
}

bool SetRuntimeLocale(std::string_view language) {
  const std::string name(language);
  for (const LanguageLocale& l : kLocales) {
    if (platform::EqualsNoCase(name, l.language)) {
      for (const char* suffix : {".UTF-8", ".utf8", ""}) {
        if (std::setlocale(LC_ALL, (std::string(l.locale) + suffix).c_str()) != nullptr) {
          return true;
        }
      }
      return false;
    }
  }
  return std::setlocale(LC_ALL, name.c_str()) != nullptr;
}

std::string DriverErrorText(bool load, std::int32_t error) {
  std::string text = load ? "Unable to load driver." : "Unable to unload driver.";
  for (const ErrorReason& r : kReasons) {
    if (r.error != error) continue;
    const char* reason = load ? r.load : r.unload;
    if (reason != nullptr) text += reason;
  }
  return text;
}

}  // namespace zimo::corvan

using namespace zimo::corvan;  // NOLINT: the exports below are the library's own

extern "C" {

std::uint32_t ZimoGetLocation(std::uint32_t device) {
  const SharedDeviceBlock* block = BlockOf(IndexFromDeviceNumber(device));
  return block != nullptr ? block->Location : 0;
}

std::uint32_t ZimoGetEnumeration(std::uint32_t device) {
  const SharedDeviceBlock* block = BlockOf(IndexFromDeviceNumber(device));
  return block != nullptr ? block->Enumeration : 0;
}

std::int32_t MapDeviceNumToEnumAndLocation(std::uint32_t location, std::uint32_t enumeration) {
  if (!IsConfigLocation(location)) return -1;
  int device = -1;
  return FindDeviceByLocation(location, enumeration, &device) != 0 ? device : -1;
}

std::int32_t MapLocAndEnumFromDeviceNum(std::uint32_t device, std::uint32_t* location,
                                        std::uint32_t* enumeration) {
  const int d = IndexFromDeviceNumber(device);
  if (!IsDeviceNumber(d) || DeviceKeyExists(d) == 0) return 0;
  std::uint32_t l = 0;
  std::uint32_t e = 0;
  if (GetDeviceRegDword(d, kLocationValue, &l, 0) == 0 || !IsConfigLocation(l)) return 0;
  if (GetDeviceRegDword(d, kEnumerationValue, &e, 0) == 0) return 0;
  if (location != nullptr) *location = l;
  if (enumeration != nullptr) *enumeration = e;
  return 1;
}

std::int32_t ZimoGetAsciiComm(std::uint32_t device) {
  const int d = IndexFromDeviceNumber(device);
  const SharedDeviceBlock* block = BlockOf(d);
  if (block == nullptr) return 0;
  std::uint32_t mode = 0;
  if (block->Location != kLocationEthernet && block->Location != kLocationUsb) {
    mode = block->DprAsciiEnabled == 1 ? 1 : 0;
  }
  App().User(d)->AsciiCommMode = mode;
  return static_cast<std::int32_t>(mode);
}

std::int32_t ZimoSetAsciiComm(std::uint32_t device, std::int32_t mode) {
  const int d = IndexFromDeviceNumber(device);
  SharedDeviceBlock* block = BlockOf(d);
  if (block == nullptr) return 0;
  DeviceUserHandle& user = *App().User(d);
  const std::uint32_t location = block->Location;
  if (mode != 0 &&
      (location == kLocationSerial || location == kLocationEthernet || location == kLocationUsb)) {
    block->DprAsciiEnabled = 0;
    return 0;
  }
  if (mode >= 0 && user.AsciiCommMode == static_cast<std::uint32_t>(mode)) return 1;
  DeviceLock lock(d);
  ZimoFlush(device);
  if (mode == 0) {
    user.AsciiCommMode = 0;
    block->DprAsciiEnabled = 0;
    return 1;
  }
  if (mode == 1 && ZimoDPRComm(device, 1) == 1) {
    user.AsciiCommMode = 1;
    block->DprAsciiEnabled = 1;
    return 1;
  }
  return 0;
}

std::int32_t ZimoLoadNTDriver(std::uint32_t device) {
  if (App().platform_id() != 2) return 0;
  if (DrvLoadKernelDriver(device) != 0) return 1;
  ShowDriverError(true);
  return 0;
}

std::int32_t ZimoUnloadNTDriver(std::uint32_t device) {
  if (App().platform_id() != 2) return 0;
  if (DrvUnloadKernelDriver(device) != 0) return 1;
  ShowDriverError(false);
  return 0;
}

std::int32_t ZimoRemoveNTDriver(std::uint32_t device) {
  return App().platform_id() == 2 ? DrvRemoveDriver(device) : 0;
}

std::int32_t ZimoNTDriverLoaded(std::uint32_t device) {
  return App().platform_id() == 2 ? DrvIsDriverLoaded(device) : 0;
}

std::int32_t ZimoNcAvailable(void) { return 1; }

std::int32_t SetLanguageModule(const char* language, void* default_module, void** slot) {
  if (slot == nullptr || *slot == nullptr) return 0;
  // A satellite loaded before is let go whenever the slot changes.
  auto put = [slot, default_module](void* module) {
    if (*slot != nullptr && *slot != default_module && *slot != module)
      zimo::platform::CloseModuleHandle(*slot);
    *slot = module;
  };
  if (language != nullptr && language[0] != '\0' && std::strcmp(language, "C") != 0) {
    const std::filesystem::path file = FileOfModule(default_module);
    if (file.empty()) {
      put(default_module);
      return 0;
    }
    const std::filesystem::path satellite = SatellitePath(file, language);
    std::error_code ec;
    if (!std::filesystem::exists(satellite, ec) || !SetRuntimeLocale(language)) {
      put(default_module);
      return 0;
    }
    void* loaded = zimo::platform::OpenModuleHandle(satellite);
    put(loaded != nullptr ? loaded : default_module);
    return loaded != nullptr ? 1 : 0;
  }
  std::setlocale(LC_ALL, "C");
  put(default_module);
  return 1;
}

std::int32_t ZimoSetLanguage(std::uint32_t device, const char* language) {
  std::int32_t switched;
  {
    std::lock_guard<std::mutex> lock(g_language_mutex);
    switched = SetLanguageModule(language, OwnModule(), LanguageSlot());
  }
  const char* recorded = switched != 0 && language != nullptr ? language : "English";
  DrvSetDeviceString(device, kLanguageValue, recorded);
  return switched;
}

void** ZimoLMH(void** handle) {
  if (handle == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(g_language_mutex);
  *handle = *LanguageSlot();
  return handle;
}

}  // extern "C"
