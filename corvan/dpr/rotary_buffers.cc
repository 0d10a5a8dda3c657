// Binary rotary buffers: the rings in DPR, their allocation in the DPR
// variable area, the staging block of USB and Ethernet cards, the card's
// binary rotary mode, and the exports that convert motion text or read
// ready binary commands and feed them into a buffer.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "corvan/command_api.h"
#include "corvan/dpr_api.h"
#include "corvan/eth_api.h"
#include "corvan/internal/shared_table.h"
#include "corvan/rotary_api.h"
#include "corvan/status_api.h"
#include "dpr/dpr_map.h"
#include "dpr/rotary_encoder.h"
#include "dpr/rotary_parser.h"
#include "dpr/rotary_reset.h"
#include "dpr/rotary_staging.h"
#include "dpr/varbuf_owner.h"
#include "dpr/write_buffer.h"
#include "drivers/zimo_ioctl.h"
#include "link/driver_device.h"
#include "link/library_app.h"
#include "platform/codepage.h"

namespace zimo::corvan {
namespace {

constexpr int kStatusError = 0x8000;  // descriptor status bit 15
// A text line the file feeders read at once, its line end included.
constexpr std::size_t kLineLimit = 255;

// The staging block: a 16-bit fill, four unused bytes, then the staged
// commands, each a 16-bit byte count and its words. One per device, so the
// commands of one card never travel to another.
constexpr std::size_t kStagingBytes = 4096;
constexpr std::size_t kStagingHeader = 6;
constexpr std::size_t kStagingLimitUsb = 4096;
constexpr std::size_t kStagingLimitEth = 1400;
struct StagingBlock {
  std::array<std::uint8_t, kStagingHeader + kStagingBytes> bytes{};
  std::size_t Fill() const { return bytes[0] | bytes[1] << 8; }
  void SetFill(std::size_t fill) {
    bytes[0] = static_cast<std::uint8_t>(fill);
    bytes[1] = static_cast<std::uint8_t>(fill >> 8);
  }
};
std::array<StagingBlock, kRealDevices> g_staging;

const SharedDeviceBlock* BlockOf(int device) {
  return IsRealDevice(device) ? App().Block(device) : nullptr;
}
SharedDeviceBlock* MutableBlockOf(int device) {
  return IsRealDevice(device) ? App().Block(device) : nullptr;
}

bool HasDpr(int device) {
  if (!IsRealDevice(device) || App().Block(device) == nullptr) return false;
  const DeviceUserHandle* user = App().User(device);
  return user != nullptr && user->DprAvailable != 0;
}

bool Stages(int device) {
  const std::uint32_t location = RotaryLocation(device);
  return location == kLocationUsb || location == kLocationEthernet;
}

std::uint32_t Dev(int device) { return DeviceNumberFromIndex(device); }

const DprLayout& LayoutOf(const SharedDeviceBlock& block) {
  return DprLayoutOf(block.SpranFlag != 0);
}

// Card word offset (from DPR word 0) of the ring a descriptor names.
std::int64_t RingWordOffset(const SharedDeviceBlock& block, const RotBufDescriptor& d) {
  if (block.SpranFlag != 0) return std::int64_t{d.Start} + 0x450;
  return std::int64_t{d.Start} - std::int64_t{block.DprCardBase};
}

void UpperCase(char* text) {
  if (text == nullptr) return;
  for (char* p = text; *p != '\0'; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c >= 'a' && c <= 'z') *p = static_cast<char>(c - 'a' + 'A');
  }
}

// --- Staging ----------------------------------------------------------------

// Sends the device's staged commands; the card's code and byte count.
struct StagingReply {
  bool delivered = false;
  std::uint32_t code = 0;
  std::uint32_t taken = 0;
};

StagingReply SendStaging(int device) {
  StagingBlock& block = g_staging[static_cast<std::size_t>(device)];
  StagingReply reply;
  std::uint32_t word = 0;
  if (RotaryLocation(device) == kLocationUsb) {
    const platform::IoControlResult r =
        DriverIoctl(device, drivers::IOCTL_ZIMO_ROT_PUT, block.bytes.data(),
                    static_cast<std::uint32_t>(block.bytes.size()), nullptr, 0);
    if (!r.ok) return reply;
    word = r.bytes_returned;
  } else {
    // The answer words start cleared: a request that fails leaves nothing
    // that could read as the card's acceptance.
    std::uint16_t first = 0;
    std::uint16_t second = 0;
    const std::int32_t got =
        EthRotBufPut(Dev(device), 0, block.bytes.data() + kStagingHeader,
                     static_cast<std::uint32_t>(block.Fill()), &first, &second);
    if (got != 4) return reply;
    word = static_cast<std::uint32_t>(second) << 16 | first;
  }
  reply.delivered = true;
  reply.code = (word >> 16) & 0xFF;
  reply.taken = word & 0xFFFF;
  return reply;
}

// Sends and applies the card's answer to the block: the put's result.
int FlushStaging(int device) {
  StagingBlock& block = g_staging[static_cast<std::size_t>(device)];
  const StagingReply reply = SendStaging(device);
  if (!reply.delivered) return kRotRefused;
  switch (reply.code) {
    case 0:
      block.SetFill(0);
      return kRotAccepted;
    case 1:
      return kRotRefused;
    case 2:
      return kRotaryBufferSize;
    case 3: {
      // The card took the first `taken` bytes; the rest moves up.
      const std::size_t fill = block.Fill();
      const std::size_t taken = std::min<std::size_t>(reply.taken, fill);
      std::uint8_t* data = block.bytes.data() + kStagingHeader;
      std::memmove(data, data + taken, fill - taken);
      block.SetFill(fill - taken);
      return kRotRetry;
    }
    default:
      return kRotAccepted;  // an answer the card does not give: the block stays
  }
}

// --- The DPR ring -----------------------------------------------------------

int RingPut(int device, int count, const std::uint32_t* words, int n) {
  if (!HasDpr(device) || n < 0 || n >= kRotaryDescriptors || count < 0) return kRotRefused;
  if (count > 0 && words == nullptr) return kRotRefused;
  const SharedDeviceBlock* block = BlockOf(device);
  RotBufDescriptor d{};
  if (ZimoDPRGetRotBufDescriptor(device, n, &d) == 0) return kRotRefused;
  if ((d.Status & kStatusError) != 0) return kRotaryBufferSize;
  if (d.Size == 0) return kRotRefused;
  // The ring's place comes from its descriptor, so any process can put
  // into a ring another one set up.
  const std::int64_t start = RingWordOffset(*block, d);
  const std::int64_t size = d.Size;
  if (start < LayoutOf(*block).fixed_end_words || start + size > kDprWindowWords ||
      d.HostIndex >= size || d.CardIndex >= size) {
    return kRotaryBufferSize;
  }
  // The ring always keeps four words free; a command that could never fit
  // is an error rather than a retry for ever.
  if (count > size - 4) return kRotaryBufferSize;
  std::int64_t room = std::int64_t{d.CardIndex} - (std::int64_t{d.HostIndex} + 4) % size;
  if (room < 0) room += size;
  if (room < count) return kRotRetry;
  const std::uint32_t base = static_cast<std::uint32_t>(start * 4);
  const std::int64_t host = d.HostIndex;
  std::int64_t next = 0;
  if (host + count < size) {
    if (count > 0 && ZimoDPRSetMem(Dev(device), base + static_cast<std::uint32_t>(4 * host),
                                   static_cast<std::uint32_t>(4 * count), words) == nullptr) {
      return kRotRefused;
    }
    next = host + count;
  } else {
    const std::int64_t first = size - host;
    if (ZimoDPRSetMem(Dev(device), base + static_cast<std::uint32_t>(4 * host),
                      static_cast<std::uint32_t>(4 * first), words) == nullptr) {
      return kRotRefused;
    }
    if (count > first &&
        ZimoDPRSetMem(Dev(device), base, static_cast<std::uint32_t>(4 * (count - first)),
                      words + first) == nullptr) {
      return kRotRefused;
    }
    next = count - first;
  }
  ZimoDPRSetWord(Dev(device), RotaryDescriptorOffset(block->SpranFlag != 0, n) + 4,
                 static_cast<std::uint16_t>(next));
  return kRotAccepted;
}

// --- Allocation ---------------------------------------------------------------

int Init(int device, int n) {
  if (!IsRealDevice(device) || n < 0 || n >= kRotaryDescriptors) return kRotRefused;
  if (RotaryHostMode(device)) {
    RotaryHostInit(device);
    return 0;
  }
  if (!HasDpr(device)) return kRotRefused;
  DropUsersOfEndedProcess(device);
  SharedDeviceBlock* block = MutableBlockOf(device);
  const DprLayout& layout = LayoutOf(*block);
  block->RotBufSize[n] &= 0xFFFE;
  const std::int64_t size = block->RotBufSize[n];
  ZimoDPRSetDWord(Dev(device), layout.rotary_area_end, 0);
  const std::int64_t area_end = ZimoDPRGetDWord(Dev(device), layout.rotary_area_end);
  const std::int64_t lowest_floor = area_end + layout.fixed_end_words;

  RotBufDescriptor old{};
  if (ZimoDPRGetRotBufDescriptor(device, n, &old) == 0) return kRotRefused;
  const std::int64_t base = block->DprCardBase;
  const std::int64_t next_free = std::int64_t{block->VbgNextFree} - base;  // word offset
  const bool lowest = old.Size != 0 && RingWordOffset(*block, old) == next_free;

  std::int64_t offset = 0;  // word offset of the ring after this call
  std::int64_t new_free = next_free;
  std::int64_t new_size = size;
  if (old.Size == 0 || lowest) {
    // The ring is new, or the lowest one: it may move the area's bottom.
    const std::int64_t top = next_free + (lowest ? old.Size : 0);
    offset = top - size;
    const bool moves = offset != next_free;
    if (moves && block->VbgUserCount != 0) return kRotRefused;  // their lists lie there
    if (size != 0 && offset < lowest_floor) return kRotRefused;
    new_free = offset;
  } else if (size == old.Size) {
    offset = RingWordOffset(*block, old);  // reset in place
  } else if (size == 0) {
    offset = RingWordOffset(*block, old);  // removed; its room stays between its neighbours
    new_size = 0;
  } else {
    return kRotRefused;  // a ring between others cannot grow or shrink
  }
  if (!WaitForWriteBuffer(Dev(device), layout)) return kRotRefused;

  RotBufDescriptor d = old;
  d.HostIndex = 0;
  d.CardIndex = 0;
  d.Size = static_cast<std::uint16_t>(new_size);
  d.BufferNumber = static_cast<std::uint16_t>(n + 1);
  d.Start = static_cast<std::uint16_t>(block->SpranFlag != 0 ? offset - 0x450 : offset + base);
  ZimoDPRSetRotBufDescriptor(device, n, &d);
  App().User(device)->DprBuffers.RotBufDataOffset[static_cast<std::size_t>(n)] =
      static_cast<std::uint32_t>(offset * 4);
  block->VbgNextFree = static_cast<std::uint32_t>(base + new_free);
  RotaryStagingClear(device);
  if (RotaryLocation(device) == kLocationUsb) {
    DriverIoctl(device, drivers::IOCTL_ZIMO_ROT_INIT, nullptr, 0, nullptr, 0);
  } else if (RotaryLocation(device) == kLocationEthernet) {
    EthRotBufInit(Dev(device), static_cast<std::uint16_t>(n));
  }
  return 0;
}

// --- Feeding ------------------------------------------------------------------

// One line of a text file: at most kLineLimit characters with its line end;
// a CR before the line end is dropped. 1 read, 0 at the end of the file, -65
// on a read error, -62 for a longer line (skipped whole).
int ReadLine(std::FILE* file, std::string* line) {
  line->clear();
  bool any = false;
  for (;;) {
    const int c = std::getc(file);
    if (c == EOF) {
      if (std::ferror(file) != 0) return kRotaryInputFile;
      break;
    }
    any = true;
    if (c == '\n') break;
    line->push_back(static_cast<char>(c));
  }
  if (!any) return 0;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  if (line->size() + 1 > kLineLimit) return kRotaryIllegal;
  return 1;
}

// After the last record or line: what still waits in the staging block is
// sent, so an end is reported only once everything went.
int EndOfInput(int device) {
  if (!RotaryStagingPending(device)) return kRotEnd;
  const RotaryPutOutcome o = RotaryStagePut(device, 0, nullptr, 0, true, nullptr);
  return o.result == kRotAccepted ? kRotEnd : o.result;
}

// Converts an upper-cased text into `block`: word count or error.
int Convert(int device, const char* text, std::uint8_t* block) {
  return RotaryConvertLine(RotaryDialectOf(device), text, block);
}

const std::uint32_t* Words(const std::uint8_t* block) {
  return reinterpret_cast<const std::uint32_t*>(block);
}

// Converts `text` and puts it: through the host-side packets when allowed
// and the mode is on, else the staging put.
int TextPut(int device, char* text, int n, bool flush, bool host_allowed) {
  UpperCase(text);
  const bool host = host_allowed && RotaryHostMode(device);
  if (!host && !HasDpr(device)) return kRotRefused;
  alignas(4) std::uint8_t block[kRotaryBlockBytes];
  const int words = Convert(device, text != nullptr ? text : "", block);
  if (words < 0) return words;
  const RotaryPutOutcome o = host ? RotaryHostPut(device, words, Words(block), n, flush, text)
                                  : RotaryStagePut(device, words, Words(block), n, flush, text);
  return o.result;
}

// Appends one record of a binary command file: the word count, then the
// words.
bool WriteRecord(std::FILE* file, const std::uint8_t* block, int words) {
  const std::uint8_t head[2] = {static_cast<std::uint8_t>(words),
                                static_cast<std::uint8_t>(words >> 8)};
  return std::fwrite(head, 1, 2, file) == 2 &&
         std::fwrite(block, 4, static_cast<std::size_t>(words), file) ==
             static_cast<std::size_t>(words);
}

// The W forms' text as the A forms take it; false when it cannot be.
bool Narrow(const char16_t* text, std::string* narrow) {
  if (text == nullptr) return false;
  const std::size_t length = platform::Utf16Length(text);
  if (length > kLineLimit) return false;
  *narrow = platform::NarrowText(text).str();
  return true;
}

// Hands an emptied narrow text back to the caller's wide text.
void CopyBack(const std::string& narrow, char16_t* text) {
  if (narrow.c_str()[0] == '\0' && text != nullptr) text[0] = u'\0';
}

// A W form run through its A form: 0 when the text cannot be narrowed.
template <typename AForm>
std::int16_t ThroughNarrow(char16_t* text, AForm a_form) {
  std::string narrow;
  if (!Narrow(text, &narrow)) return 0;
  const std::int16_t r = a_form(narrow.data());
  CopyBack(narrow, text);
  return r;
}

}  // namespace

// --- Staging put --------------------------------------------------------------

RotaryPutOutcome RotaryStagePut(int device, int count, const std::uint32_t* words, int n,
                                bool flush, char* text) {
  RotaryPutOutcome out;
  if (!IsRealDevice(device) || n < 0 || n >= kRotaryDescriptors || count < 0) return out;
  if (!Stages(device)) {
    out.result = RingPut(device, count, words, n);
    out.staged = out.result == kRotAccepted;
    return out;
  }
  if (count > 0 && words == nullptr) return out;
  StagingBlock& block = g_staging[static_cast<std::size_t>(device)];
  const std::size_t limit =
      RotaryLocation(device) == kLocationUsb ? kStagingLimitUsb : kStagingLimitEth;
  const std::size_t need = 4 * static_cast<std::size_t>(count) + 2;
  if (need > limit) {
    out.result = kRotaryBufferSize;  // could never be staged
    return out;
  }
  int result = kRotAccepted;
  if (block.Fill() + need > limit) {
    result = FlushStaging(device);  // make room first; the new command waits
    flush = false;
  }
  if (result != kRotAccepted) {
    out.result = result;
    return out;
  }
  const std::size_t before = block.Fill();
  if (count > 0) {
    if (before + need > limit) {
      out.result = kRotRetry;  // the card kept the block: no room yet
      return out;
    }
    std::uint8_t* at = block.bytes.data() + kStagingHeader + before;
    const std::size_t bytes = 4 * static_cast<std::size_t>(count);
    at[0] = static_cast<std::uint8_t>(bytes);
    at[1] = static_cast<std::uint8_t>(bytes >> 8);
    std::memcpy(at + 2, words, bytes);
    block.SetFill(before + need);
    out.staged = true;
  }
  if (flush && block.Fill() > 0) {
    result = FlushStaging(device);
    if (result == kRotRetry) {
      if (out.staged && text != nullptr && text[0] != '\0') text[0] = '\0';
    } else if (result != kRotAccepted && out.staged) {
      // Refused: the command is taken out again, so the caller's retry
      // cannot put it in twice.
      block.SetFill(before);
      out.staged = false;
    }
  }
  out.result = result;
  return out;
}

std::uint32_t RotaryLocation(int device) {
  const SharedDeviceBlock* block = BlockOf(device);
  return block != nullptr ? block->Location : kLocationUnknown;
}

bool RotaryStagingPending(int device) {
  return IsRealDevice(device) && Stages(device) &&
         g_staging[static_cast<std::size_t>(device)].Fill() > 0;
}

void RotaryStagingClear(int device) {
  if (IsRealDevice(device)) g_staging[static_cast<std::size_t>(device)].SetFill(0);
}

}  // namespace zimo::corvan

using namespace zimo::corvan;

extern "C" {

int32_t ZimoDPRBufLast(uint32_t device) {
  const int d = IndexFromDeviceNumber(device);
  if (!HasDpr(d)) return 0;
  if (BlockOf(d)->VbgUserCount != 0) return 9;
  for (int n = kRotaryDescriptors - 1; n >= 0; --n) {
    RotBufDescriptor desc{};
    if (ZimoDPRGetRotBufDescriptor(d, n, &desc) == 0) return 0;
    if (desc.Size != 0) return n + 1;
  }
  return 0;
}

uint16_t ZimoDPRGetVBGStartAddr(uint32_t device) {
  const SharedDeviceBlock* block = BlockOf(IndexFromDeviceNumber(device));
  if (block == nullptr) return 0;
  return ZimoDPRGetWord(device, LayoutOf(*block).vbg_start_address);
}

int16_t ZimoDPRRotBufInit(uint32_t device, uint32_t n) {
  if (n >= static_cast<uint32_t>(kRotaryDescriptors)) return kRotRefused;
  return static_cast<int16_t>(Init(IndexFromDeviceNumber(device), static_cast<int>(n)));
}

int16_t ZimoDPRRotBufChange(uint32_t device, uint32_t n, uint16_t size) {
  const int d = IndexFromDeviceNumber(device);
  SharedDeviceBlock* block = MutableBlockOf(d);
  if (block == nullptr || n >= static_cast<uint32_t>(kRotaryDescriptors)) return kRotRefused;
  const std::uint16_t before = block->RotBufSize[n];
  block->RotBufSize[n] = size;
  const int r = Init(d, static_cast<int>(n));
  if (r != 0) block->RotBufSize[n] = before;
  return static_cast<int16_t>(r);
}

int16_t ZimoDPRRotBufRemove(uint32_t device, uint32_t n) {
  return ZimoDPRRotBufChange(device, n, 0);
}

void ZimoDPRRotBufClr(uint32_t device, uint32_t n) {
  const int d = IndexFromDeviceNumber(device);
  if (!HasDpr(d) || n >= static_cast<uint32_t>(kRotaryDescriptors)) return;
  RotBufDescriptor desc{};
  if (ZimoDPRGetRotBufDescriptor(d, static_cast<int>(n), &desc) == 0) return;
  desc.HostIndex = 0;
  desc.CardIndex = 0;
  ZimoDPRSetRotBufDescriptor(d, static_cast<int>(n), &desc);
  RotaryStagingClear(d);
  if (RotaryLocation(d) == kLocationUsb) {
    if (RotaryHostMode(d)) {
      RotaryHostInit(d);
    } else {
      DriverIoctl(d, zimo::drivers::IOCTL_ZIMO_ROT_INIT, nullptr, 0, nullptr, 0);
    }
  } else if (RotaryLocation(d) == kLocationEthernet) {
    EthRotBufInit(device, static_cast<std::uint16_t>(n));
  }
}

uint16_t ZimoDPRRotBuf(uint32_t device, int32_t on) {
  const int d = IndexFromDeviceNumber(device);
  if (!HasDpr(d)) return 0;
  SharedDeviceBlock* block = MutableBlockOf(d);
  const bool spran = block->SpranFlag != 0;
  if (spran) {
    ZimoSendCommandA(device, on != 0 ? "CLOSE OPEN BIN ROT" : "CLOSE");
  } else if (ZimoDPRRotBufOpen(device) != 0) {
    ZimoSendCommandA(device, "CLOSE");
    ZimoSendCommandA(device, on != 0 ? "i57=1" : "i57=0");
    ZimoSendCommandA(device, "OPEN ROT");
  } else {
    ZimoSendCommandA(device, on != 0 ? "i57=1" : "i57=0");
  }
  block->BinaryRotaryMode = on != 0 ? 1 : 0;
  return block->BinaryRotaryMode;
}

int16_t ZimoDPRrotput(uint32_t device, int32_t count, const uint32_t* words, uint32_t n) {
  if (n >= static_cast<uint32_t>(kRotaryDescriptors)) return kRotRefused;
  return static_cast<int16_t>(
      RingPut(IndexFromDeviceNumber(device), count, words, static_cast<int>(n)));
}

int16_t ZimoDPRrotputEx(uint32_t device, int32_t count, const uint32_t* words, uint32_t n,
                        int32_t flush, char* text) {
  if (n >= static_cast<uint32_t>(kRotaryDescriptors)) return kRotRefused;
  return static_cast<int16_t>(RotaryStagePut(IndexFromDeviceNumber(device), count, words,
                                             static_cast<int>(n), flush != 0, text)
                                  .result);
}

int16_t ZimoDPRAsciiStrToRotA(uint32_t device, char* text, uint32_t n) {
  if (n >= static_cast<uint32_t>(kRotaryDescriptors)) return kRotRefused;
  return static_cast<int16_t>(
      TextPut(IndexFromDeviceNumber(device), text, static_cast<int>(n), true, true));
}

int16_t ZimoDPRAsciiStrToRotW(uint32_t device, char16_t* text, uint32_t n) {
  return ThroughNarrow(text, [&](char* a) { return ZimoDPRAsciiStrToRotA(device, a, n); });
}

int16_t ZimoDPRAsciiStrToRotEx(uint32_t device, char* text, uint32_t n, int32_t flush) {
  if (n >= static_cast<uint32_t>(kRotaryDescriptors)) return kRotRefused;
  return static_cast<int16_t>(
      TextPut(IndexFromDeviceNumber(device), text, static_cast<int>(n), flush != 0, true));
}

int32_t ZimoDPRAsciiStrToBinary(uint32_t device, char* text, void* block) {
  if (block == nullptr) return kRotaryIllegal;
  UpperCase(text);
  alignas(4) std::uint8_t out[kRotaryBlockBytes];
  const int words = Convert(IndexFromDeviceNumber(device), text != nullptr ? text : "", out);
  if (words >= 0) std::memcpy(block, out, sizeof out);
  return words;
}

int16_t ZimoDPRSendBinaryCommandA(uint32_t device, char* text, uint32_t n) {
  if (n >= static_cast<uint32_t>(kRotaryDescriptors)) return kRotRefused;
  return static_cast<int16_t>(
      TextPut(IndexFromDeviceNumber(device), text, static_cast<int>(n), true, false));
}

int16_t ZimoDPRSendBinaryCommandW(uint32_t device, char16_t* text, uint32_t n) {
  return ThroughNarrow(text, [&](char* a) { return ZimoDPRSendBinaryCommandA(device, a, n); });
}

int16_t ZimoDPRAsciiFileToRot(uint32_t device, FILE* file, uint32_t n) {
  const int d = IndexFromDeviceNumber(device);
  if (file == nullptr) return kRotaryInputFile;
  if (n >= static_cast<uint32_t>(kRotaryDescriptors) || !HasDpr(d)) return kRotRefused;
  const long start = std::ftell(file);
  std::string line;
  const int read = ReadLine(file, &line);
  if (read == 0) return static_cast<int16_t>(EndOfInput(d));
  if (read < 0) return static_cast<int16_t>(read);
  UpperCase(line.data());
  alignas(4) std::uint8_t block[kRotaryBlockBytes];
  const int words = Convert(d, line.c_str(), block);
  if (words < 0) return static_cast<int16_t>(words);
  const RotaryPutOutcome o =
      RotaryStagePut(d, words, Words(block), static_cast<int>(n), true, nullptr);
  if (o.result == kRotRetry && o.staged) return kRotAccepted;  // staged; the next call sends it
  if (o.result == kRotRetry || o.result < 0) std::fseek(file, start, SEEK_SET);
  return static_cast<int16_t>(o.result);
}

int16_t ZimoDPRBinaryFileToRot(uint32_t device, FILE* file, uint32_t n) {
  const int d = IndexFromDeviceNumber(device);
  if (file == nullptr) return kRotaryInputFile;
  if (n >= static_cast<uint32_t>(kRotaryDescriptors)) return kRotRefused;
  const long start = std::ftell(file);
  std::uint8_t head[2];
  const std::size_t got = std::fread(head, 1, 2, file);
  if (got == 0 && std::feof(file) != 0) return static_cast<int16_t>(EndOfInput(d));
  if (got != 2) return kRotaryInputFile;
  const std::size_t count = head[0] | head[1] << 8;
  std::array<std::uint32_t, kStagingBytes / 4> words{};
  if (count > words.size()) return kRotaryInputFile;
  if (std::fread(words.data(), 4, count, file) != count) return kRotaryInputFile;
  const RotaryPutOutcome o =
      RotaryStagePut(d, static_cast<int>(count), words.data(), static_cast<int>(n), true, nullptr);
  if (o.result == kRotRetry && o.staged) return kRotAccepted;
  if (o.result == kRotRetry || o.result < 0) std::fseek(file, start, SEEK_SET);
  return static_cast<int16_t>(o.result);
}

int16_t ZimoDPRBinaryToRot(uint32_t device, const void* list, const void** next, uint32_t n) {
  const int d = IndexFromDeviceNumber(device);
  if (list == nullptr) return kRotaryInputFile;
  if (n >= static_cast<uint32_t>(kRotaryDescriptors)) return kRotRefused;
  const auto* bytes = static_cast<const std::uint8_t*>(list);
  const std::size_t count = bytes[0] | bytes[1] << 8;
  if (count == 0) return static_cast<int16_t>(EndOfInput(d));
  std::array<std::uint32_t, kStagingBytes / 4> words{};
  if (count > words.size()) return kRotaryBufferSize;
  std::memcpy(words.data(), bytes + 2, 4 * count);
  const RotaryPutOutcome o =
      RotaryStagePut(d, static_cast<int>(count), words.data(), static_cast<int>(n), true, nullptr);
  const bool taken = o.result == kRotAccepted || (o.result == kRotRetry && o.staged);
  if (taken && next != nullptr) *next = bytes + 2 + 4 * count;
  return static_cast<int16_t>(taken ? kRotAccepted : o.result);
}

int16_t ZimoDPRAsciiToBinaryFile(uint32_t device, FILE* text_file, FILE* binary_file) {
  const int d = IndexFromDeviceNumber(device);
  if (text_file == nullptr) return kRotaryInputFile;
  if (binary_file == nullptr) return kRotaryOutputFile;
  const RotaryDialect dialect = RotaryDialectOf(d);
  std::array<RotaryToken, kRotaryTokenLimit> tokens{};
  alignas(4) std::uint8_t block[kRotaryBlockBytes];
  std::string line;
  for (;;) {
    const int read = ReadLine(text_file, &line);
    if (read == 0) return kRotEnd;
    if (read < 0) return static_cast<int16_t>(read);
    UpperCase(line.data());
    if (const int r = RotaryParseLine(dialect, line.c_str(), tokens.data()); r != 0) {
      return static_cast<int16_t>(r);
    }
    const int words = RotaryEncodeLine(dialect, tokens.data(), block);
    if (words < 0) return static_cast<int16_t>(words);
    if (!WriteRecord(binary_file, block, words)) return kRotaryOutputFile;
  }
}

int16_t ZimoDPRAsciiStrToBinaryFileA(uint32_t device, char* text, FILE* binary_file) {
  if (binary_file == nullptr) return kRotaryOutputFile;
  alignas(4) std::uint8_t block[kRotaryBlockBytes];
  const int words = Convert(IndexFromDeviceNumber(device), text != nullptr ? text : "", block);
  if (words < 0) return static_cast<int16_t>(words);
  return WriteRecord(binary_file, block, words) ? 0 : kRotaryOutputFile;
}

int16_t ZimoDPRAsciiStrToBinaryFileW(uint32_t device, char16_t* text, FILE* binary_file) {
  return ThroughNarrow(
      text, [&](char* a) { return ZimoDPRAsciiStrToBinaryFileA(device, a, binary_file); });
}

}  // extern "C"
