// The slope and magnitude estimators: numbers measured by the client come
// from a text file, the network's estimate goes to the card as P1023.
#include <charconv>
#include <cstdio>
#include <cstring>

#include "corvan/command_api.h"
#include "corvan/tuning_api.h"
#include "tuning/tuning.h"

namespace zimo::corvan::tuning {

bool ReadEstimatorInputs(const char* file, int count, float* out) {
  if (file == nullptr) return false;
  std::FILE* in = std::fopen(file, "r");
  if (in == nullptr) return false;
  int read = 0;
  long value = 0;
  while (read < count && std::fscanf(in, "%ld", &value) == 1) {
    out[read++] = static_cast<float>(value);
  }
  std::fclose(in);
  return read == count;
}

int RunEstimator(CardCommandPath& path, int device, const char* file, int count,
                 int (*network)(void*, const float*, float*)) {
  float inputs[kSlopeInputs];
  if (count > kSlopeInputs || !ReadEstimatorInputs(file, count, inputs)) return 0;
  float estimate = 0.0f;
  network(nullptr, inputs, &estimate);
  // "%f" with '.' whatever the process's locale: the card reads no other.
  char command[kCommandSize];
  const int head = std::snprintf(command, sizeof command, "P1023=");
  const auto done = std::to_chars(command + head, command + sizeof command - 1,
                                  static_cast<double>(estimate), std::chars_format::fixed, 6);
  if (done.ec != std::errc()) return 0;
  *done.ptr = '\0';
  ProgramWriter w(path, device);
  w.Line("%s", command);
  return (w.status() & kStatusMask) == kStatusAck ? 1 : 0;
}

}  // namespace zimo::corvan::tuning

extern "C" {

std::int32_t Slope(std::uint32_t device, const char* path) {
  using namespace zimo::corvan::tuning;
  return RunEstimator(zimo::corvan::LibraryCommandPath(),
                      zimo::corvan::IndexFromDeviceNumber(device), path, kSlopeInputs,
                      &SlopeNetwork);
}

std::int32_t MagEstimation(std::uint32_t device, const char* path) {
  using namespace zimo::corvan::tuning;
  return RunEstimator(zimo::corvan::LibraryCommandPath(),
                      zimo::corvan::IndexFromDeviceNumber(device), path, kMagnitudeInputs,
                      &MagnitudeNetwork);
}

}  // extern "C"
