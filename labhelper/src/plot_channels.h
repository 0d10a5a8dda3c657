// The gathered channels in the order their blocks stand in a plot file, and
// the shared message texts of the plot-file functions.
#pragma once

#include <cstdint>

namespace zimo::labhelper {

inline constexpr int kPlotChannels = 12;
// Block order: the first ten in every version, the last two in 4.1 only.
inline constexpr int32_t kBlockBits[kPlotChannels] = {0x01, 0x02, 0x04,  0x08,  0x10,  0x20,
                                                      0x40, 0x80, 0x400, 0x800, 0x100, 0x200};
inline constexpr int kVersion40Blocks = 10;

inline constexpr char kErrorTitle[] = "Error";
inline constexpr char kUnableToOpen[] = "Unable to open file.";
inline constexpr char kBadPlotFile[] = "Bad or incompatible plot file.";
inline constexpr char kNoMemory[] = "Unable to allocate memory for plot file.";

// Arrays in block order; an entry is null where the caller passes none.
template <typename T>
struct ChannelSet {
  T* by_block[kPlotChannels] = {};
};

// Builds the set from the arguments in their call order (commanded, encoders
// 1-3, control effort, disturbance, Q10-Q13, commanded 2, encoder 4).
template <typename T>
ChannelSet<T> ChannelsFromArguments(T* cmd, T* enc1, T* enc2, T* enc3, T* effort, T* disturbance,
                                    T* q10, T* q11, T* q12, T* q13, T* cmd2, T* enc4) {
  return ChannelSet<T>{
      {cmd, enc1, enc2, enc3, q10, q11, q12, q13, effort, disturbance, cmd2, enc4}};
}

}  // namespace zimo::labhelper
