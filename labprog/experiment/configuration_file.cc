#include "labprog/configuration_file.h"

#include <cmath>
#include <filesystem>
#include <string>
#include <system_error>

#include "configuration_keys.h"
#include "labprog/units.h"
#include "platform/profile.h"
#include "ui/form_language.h"

namespace zimo::labprog {
namespace {

// The value buffer of one read: 79 characters and the terminator.
constexpr uint32_t kValueBuffer = 80;

// A name without a folder means the current directory (the profile calls
// would look for it in the system folder).
std::string FileNameForProfile(const std::string& name) {
  bool bare =
      name.find_first_of("\\/") == std::string::npos && !(name.size() >= 2 && name[1] == ':');
  if (!bare || name.empty()) return name;
  std::error_code ec;
  std::filesystem::path full = std::filesystem::absolute(name, ec);
  return ec ? name : full.string();
}

// Stores the text read for a key into its field. A whole number that does
// not fit the field, or a magnitude the field cannot hold, leaves it as it
// was.
void Store(const ConfigurationKey& row, const std::string& text) {
  if (row.width == Width::kString) {
    *static_cast<std::string*>(row.field) = text;
    return;
  }
  double value = ui::Val(text);
  switch (row.width) {
    case Width::kInteger:
      if (auto v = ui::CInt(value)) *static_cast<int16_t*>(row.field) = *v;
      break;
    case Width::kLong:
      if (auto v = ui::CLng(value)) *static_cast<int32_t*>(row.field) = *v;
      break;
    case Width::kSingle:
      if (auto v = ui::CSng(value)) *static_cast<float*>(row.field) = *v;
      break;
    case Width::kDouble:
      if (std::isfinite(value)) *static_cast<double*>(row.field) = value;
      break;
    case Width::kString:
      break;
  }
}

std::string Written(const ConfigurationKey& row) {
  switch (row.width) {
    case Width::kString:
      return *static_cast<const std::string*>(row.field);
    case Width::kInteger: {
      int16_t v = *static_cast<const int16_t*>(row.field);
      return row.blank_before ? ui::Str(v) : ui::CStr(v);
    }
    case Width::kLong:
      return ui::CStr(*static_cast<const int32_t*>(row.field));
    case Width::kSingle:
      return ui::CStrSingle(*static_cast<const float*>(row.field));
    case Width::kDouble: {
      double v = *static_cast<const double*>(row.field);
      return row.blank_before ? ui::Str(v) : ui::CStr(v);
    }
  }
  return "";
}

}  // namespace

void LoadConfiguration(LabProgram& program, const std::string& file_name) {
  // The file is read once; every key then comes from that one state of it.
  const platform::ProfileReader file(FileNameForProfile(file_name).c_str());
  for (const ConfigurationKey& row : ConfigurationKeys(program.Config)) {
    if (row.load_default == nullptr) continue;
    char buffer[kValueBuffer];
    uint32_t n =
        file.GetString(row.section, row.key.c_str(), row.load_default, buffer, kValueBuffer);
    Store(row, std::string(buffer, n));
  }
  // The file's own counts per unit never survive: the card's count does.
  program.Config.UnitsScaleFactor = CountsPerUnitFromCard(program.Link);
  SetStatusPanelCaptions(program);
  program.Windows.SetFrameCaption(program.ProgramTitle + "- " + file_name);
}

void SaveConfiguration(LabProgram& program) {
  if (program.Config.Filename.empty()) program.Config.Filename = "default.cfg";
  const std::string path = FileNameForProfile(program.Config.Filename);
  for (const ConfigurationKey& row : ConfigurationKeys(program.Config)) {
    platform::WritePrivateProfileStringA(row.section, row.key.c_str(), Written(row).c_str(),
                                         path.c_str());
  }
  program.Windows.SetFrameCaption(program.ProgramTitle + "- " + program.Config.Filename);
}

}  // namespace zimo::labprog
