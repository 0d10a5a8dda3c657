// The control's persisted options: the container's property exchange and the
// private settings file "<name>.INI" in the working directory, which wins
// over the container's values on every load.
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "corvan_binding.h"
#include "platform/profile.h"
#include "voctoks_ctrl.h"

namespace zimo::voctoks {
namespace {

// A value as "%d" reads it: blanks, a sign, digits; nothing else before them.
bool ParseDecimal(const char* text, int32_t* out) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (end == text) return false;
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  *out = static_cast<int32_t>(v);
  return true;
}

void ReadKey(const std::string& file, const char* section, const char* key, const char* def,
             int32_t* member) {
  char value[91];  // a value is read as its first 90 characters
  platform::GetPrivateProfileStringA(section, key, def, value, sizeof value, file.c_str());
  int32_t parsed = 0;
  if (ParseDecimal(value, &parsed)) *member = parsed;
}

bool WriteKey(const std::string& file, const char* section, const char* key, int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", value);
  return platform::WritePrivateProfileStringA(section, key, text, file.c_str()) != 0;
}

}  // namespace

std::string CVoctoKSCtrl::SettingsFileName() const {
  std::string base = AmbientDisplayName();
  if (base.empty()) {
    char name[32];
    std::snprintf(name, sizeof name, "VOCTO%d", device_number_);
    base = name;
  }
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::current_path(ec);
  return (ec ? std::filesystem::path() : dir).string() + "/" + base + ".INI";
}

void CVoctoKSCtrl::ReadSettingsFile(bool include_enabled) {
  const std::string file = SettingsFileName();
  ReadKey(file, "Communication", "DeviceNumber", "0", &device_number_);
  ReadKey(file, "Communication", "SimulateCommunication", "1", &simulate_);
  if (include_enabled) ReadKey(file, "Communication", "Enabled", "0", &enabled_);
  ReadKey(file, "DOWNLOAD", "DownloadDo", "1", &download_do_);
  ReadKey(file, "DOWNLOAD", "DownloadParse", "1", &download_parse_);
  ReadKey(file, "DOWNLOAD", "DownloadLog", "0", &download_log_);
  ReadKey(file, "DOWNLOAD", "DownloadMap", "0", &download_map_);
  ReadKey(file, "DOWNLOAD", "DownloadDeleteTemp", "1", &download_delete_temp_);
  ReadKey(file, "DOWNLOAD", "DownloadHide", "1", &download_hide_);
  ReadKey(file, "DOWNLOAD", "DownloadShowErrors", "1", &download_show_errors_);
  ReadKey(file, "DOWNLOAD", "DownloadMaxErrors", "10", &download_max_errors_);
  ReadKey(file, "UPLOAD", "UploadHide", "0", &upload_hide_);
  ReadKey(file, "UPLOAD", "UploadShowProgress", "0", &upload_show_progress_);
  ReadKey(file, "UPLOAD", "UploadNoComments", "0", &upload_no_comments_);
  ReadKey(file, "UPLOAD", "UploadAppend", "0", &upload_append_);
}

bool CVoctoKSCtrl::SaveSettings() {
  const std::string file = SettingsFileName();
  struct Key {
    const char* section;
    const char* key;
    int32_t value;
  };
  const Key keys[] = {
      {"Communication", "DeviceNumber", device_number_},
      {"Communication", "SimulateCommunication", simulate_},
      {"Communication", "Enabled", enabled_},
      {"Download", "DownloadDo", download_do_},
      {"Download", "DownloadLog", download_log_},
      {"Download", "DownloadMap", download_map_},
      {"Download", "DownloadParse", download_parse_},
      {"Download", "DownloadDeleteTemp", download_delete_temp_},
      {"Download", "DownloadHide", download_hide_},
      {"Download", "DownloadShowErrors", download_show_errors_},
      {"Download", "DownloadMaxErrors", download_max_errors_},
      {"Upload", "UploadHide", upload_hide_},
      {"Upload", "UploadShowProgress", upload_show_progress_},
      {"Upload", "UploadNoComments", upload_no_comments_},
      {"Upload", "UploadAppend", upload_append_},
  };
  // Every key is tried; a file that cannot be written makes the call fail.
  bool ok = true;
  for (const Key& k : keys) ok = WriteKey(file, k.section, k.key, k.value) && ok;
  return ok;
}

bool CVoctoKSCtrl::LoadSettings() {
  if (enabled_ != 0) put_Enabled(false);
  ReadSettingsFile(false);
  return true;
}

void CVoctoKSCtrl::DoPropExchange(controls::PropExchange& px) {
  ExchangeVersion(px);
  ExchangeStockProps(px);
  px.Bool("DownloadDeleteTemp", &download_delete_temp_, 1);
  px.Bool("DownloadDo", &download_do_, 1);
  px.Bool("DownloadHide", &download_hide_, 1);
  px.Bool("DownloadLog", &download_log_, 0);
  px.Bool("DownloadParse", &download_parse_, 1);
  px.Bool("DownloadMap", &download_map_, 0);
  px.Bool("DownloadShowErrors", &download_show_errors_, 0);
  px.Long("DownloadMaxErrors", &download_max_errors_, 10);
  px.Bool("UploadAppend", &upload_append_, 0);
  px.Bool("UploadHide", &upload_hide_, 1);
  px.Bool("UploadNoComments", &upload_no_comments_, 0);
  px.Bool("UploadShowProgress", &upload_show_progress_, 1);
  px.Long("DeviceNumber", &device_number_, 0);
  px.Bool("SimulateCommunication", &simulate_, 1);
  px.Bool("Enabled", &enabled_, 0);

  if (!bound()) {
    RaiseErrorById(1015);
    return;
  }
  if (px.loading()) {
    ReadSettingsFile(true);
    if (enabled_ == 0) return;
    if (AmbientUserMode()) {
      if (simulate_ != 0) return;
      OpenDevice(device_number_);
    } else {
      enabled_ = Corvan().OpenZimoDevice(device());
      if (enabled_ != 0) {
        Corvan().CloseZimoDevice(device());
      } else {
        RaiseErrorById(1009);
        dpr_available_ = 0;
      }
    }
    return;
  }
  if (!AmbientUserMode()) SaveSettings();
  if (device_open_ != 0) CloseDevice(device_number_);
}

}  // namespace zimo::voctoks
