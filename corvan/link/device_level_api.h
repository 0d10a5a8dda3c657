// Pieces of the device-level exports (corvan/device_level_api.h) that other
// parts of the library and the tests use directly.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace zimo::corvan {

// The satellite of a module file for a language: the file's path with its
// extension replaced by the language's first three characters.
std::filesystem::path SatellitePath(const std::filesystem::path& module_file,
                                    std::string_view language);

// Sets the C run-time locale to a language as the system names languages
// ("German", "French", ...) or to a locale name; true when it took.
bool SetRuntimeLocale(std::string_view language);

// The text of a "Driver Error" box for a failed load or unload with the
// service call's system error.
std::string DriverErrorText(bool load, std::int32_t error);

}  // namespace zimo::corvan
