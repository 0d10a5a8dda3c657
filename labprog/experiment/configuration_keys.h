// The one table of the settings file: every key with its section, the field
// it carries, the field's width and the text a load uses when the key is
// missing, in the order a save writes them.
#pragma once

#include <string>
#include <vector>

#include "labprog/experiment_configuration.h"

namespace zimo::labprog {

enum class Width { kInteger, kLong, kSingle, kDouble, kString };

struct ConfigurationKey {
  const char* section;
  std::string key;
  Width width;
  void* field;                // int16_t, int32_t, float, double or std::string
  const char* load_default;   // nullptr: written only, never read back
  bool blank_before = false;  // the number is written with the Str blank
};

// The rows bound to the fields of `config`.
std::vector<ConfigurationKey> ConfigurationKeys(ExperimentConfiguration& config);

}  // namespace zimo::labprog
