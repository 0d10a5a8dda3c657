// The communications library as VoctoKS uses it: loaded by name when a
// control is made, its 40 functions looked up by name into one table for
// the whole process. The control never links the library.
#pragma once

#include <cstdint>
#include <string>

#include "platform/module.h"

namespace zimo::voctoks {

using DownloadMessageFn = int32_t (*)(const char* text, int32_t new_line);
using DownloadLineSourceFn = int32_t (*)(int32_t index, char* buffer, int32_t size);
using DownloadProgressFn = int32_t (*)(int32_t percent);

struct CorvanFunctions {
  int32_t (*DrvNumberOfDevices)();
  int32_t (*OpenZimoDevice)(uint32_t device);
  int32_t (*CloseZimoDevice)(uint32_t device);
  int32_t (*ZimoGetDpramAvailable)(uint32_t device);
  int32_t (*ZimoGetError)(uint32_t device);
  int32_t (*ZimoGetErrorStrA)(uint32_t device, char* buffer, uint32_t size);
  void (*ZimoAbortDownload)(uint32_t device);
  int32_t (*ZimoDownloadA)(uint32_t device, DownloadMessageFn message, DownloadLineSourceFn lines,
                           DownloadProgressFn progress, const char* file, int32_t macro,
                           int32_t map, int32_t log, int32_t download);
  int32_t (*ZimoFlush)(uint32_t device);
  uint32_t (*LockZimo)(uint32_t device);
  int32_t (*ReleaseZimo)(uint32_t device);
  uint32_t (*ZimoReadReady)(uint32_t device);
  uint32_t (*ZimoSendLineA)(uint32_t device, const char* text);
  uint32_t (*ZimoGetLineA)(uint32_t device, char* buffer, uint32_t size);
  uint32_t (*ZimoSetMaxDownloadErrors)(uint32_t count);
  uint32_t (*ZimoGetControlResponseExA)(uint32_t device, char* buffer, uint32_t size,
                                        char character);
  uint32_t (*ZimoGetBufferA)(uint32_t device, char* buffer, uint32_t size);
  uint32_t (*ZimoGetResponseExA)(uint32_t device, char* buffer, uint32_t size, const char* command);
  uint32_t (*ZimoSendCharA)(uint32_t device, char character);
  int32_t (*ZimoSelect)(uint32_t window);
  int32_t (*GetUSResponse)(uint32_t device, char* buffer, uint32_t limit);
  int32_t (*USReadReady)(uint32_t device);
  double (*ZimoDPRFloat)(const uint32_t* words, double scale);
  double (*ZimoDPRLFixed)(const uint32_t* words, double scale);
  uint16_t (*ZimoDPRGetWord)(uint32_t device, uint32_t offset);
  void (*ZimoDPRSetWord)(uint32_t device, uint32_t offset, uint16_t value);
  uint32_t (*ZimoDPRGetDWord)(uint32_t device, uint32_t offset);
  void (*ZimoDPRSetDWord)(uint32_t device, uint32_t offset, uint32_t value);
  double (*ZimoDPRGetFloat)(uint32_t device, uint32_t offset);
  void (*ZimoDPRSetFloat)(uint32_t device, uint32_t offset, double value);
  int32_t (*ZimoDPRDWordBitSet)(uint32_t device, uint32_t offset, uint16_t bit);
  void (*ZimoDPRResetDWordBit)(uint32_t device, uint32_t offset, uint16_t bit);
  void (*ZimoDPRSetDWordBit)(uint32_t device, uint32_t offset, uint16_t bit);
  int32_t (*ZimoDPRAsciiStrToRotA)(uint32_t device, char* text, uint16_t buffer);
  void (*ZimoDPRRotBufClr)(uint32_t device, uint16_t buffer);
  int32_t (*ZimoDPRRotBuf)(uint32_t device, int32_t on);
  int32_t (*ZimoDPRRotBufChange)(uint32_t device, uint16_t buffer, uint16_t size);
  int32_t (*ZimoDPRRotBufInit)(uint32_t device, uint16_t buffer);
  int32_t (*ZimoDPRBufLast)(uint32_t device);
  int32_t (*ZimoDPRRotBufRemove)(uint32_t device, uint16_t buffer);
};

inline constexpr int kCorvanFunctionCount = 40;
// The names, in the order they are looked up.
extern const char* const kCorvanFunctionNames[kCorvanFunctionCount];

// The process's table (one for every control).
CorvanFunctions& Corvan();

// The module name the binding loads ("Corvan32.dll"); tests point it at
// a stand-in library.
std::string CorvanLibraryName();
void SetCorvanLibraryName(std::string name);

// Loads the library and fills the table in order. On failure shows the
// box, and returns an unloaded module; the pointers stored before a missing
// name stay as they are.
platform::Module BindCorvanLibrary();

}  // namespace zimo::voctoks
