#include "download/file_sender.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "corvan/command_api.h"
#include "corvan/eth_api.h"
#include "corvan/internal/shared_table.h"
#include "download/download_files.h"
#include "download/download_state.h"
#include "download/source_name.h"
#include "link/bus_channel.h"
#include "link/library_app.h"
#include "link/serial_checksum.h"

namespace zimo::corvan {

namespace {

constexpr std::uint32_t kReplySize = 255;
constexpr std::uint32_t kTimeoutError = 1021;

// The pause that ends every block download, in milliseconds.
std::atomic<std::int64_t> g_block_pause_ms{50};

bool IsControl(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F;
}

bool HasSend(const char* text) {
  return std::strstr(text, "send") != nullptr || std::strstr(text, "SEND") != nullptr;
}

// Whether the device has a transport open in this process.
bool OpenHere(int device) {
  DeviceUserHandle* user = App().User(device);
  return user != nullptr && user->OpenCount > 0 && App().Block(device) != nullptr;
}

void ReportText(const char* format, const char* argument) {
  char text[kReportTextSize];
  std::snprintf(text, sizeof text, format, argument);
  DownloadState::Instance().ReportDownloadMessage(text);
}

long FileLength(std::FILE* f) {
  std::fseek(f, 0, SEEK_END);
  const long length = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  return length;
}

void ReportPosition(std::FILE* f, long length) {
  if (length <= 0) return;
  const DownloadCallbacks callbacks = DownloadState::Instance().callbacks();
  if (callbacks.has_progress()) {
    callbacks.ReportProgress(static_cast<std::int32_t>(std::ftell(f) * 100 / length));
  }
}

// Reports of a sender that holds the card's lock go out between two
// exchanges, never between a line and its reply, and with the lock let go
// for their time: a handler of the event may use the same card, from its
// own call on another thread (the server's, while a worker downloads)
// without waiting for the download's end.
class ReportGap {
 public:
  explicit ReportGap(std::uint32_t device) : device_(device) { ReleaseZimo(device_); }
  ~ReportGap() { LockZimo(device_); }
  ReportGap(const ReportGap&) = delete;
  ReportGap& operator=(const ReportGap&) = delete;

 private:
  std::uint32_t device_;
};

// The card's error number in a reply such as "ERR003": its first digits.
std::int32_t ErrorNumberIn(const char* reply) {
  const char* p = reply;
  while (*p != '\0' && !(*p >= '0' && *p <= '9')) ++p;
  return *p != '\0' ? static_cast<std::int32_t>(std::strtol(p, nullptr, 10)) : 0;
}

// The command a file line gives the card: its text without control
// characters, up to a ';' unless the line sends text.
std::string CommandOf(const std::string& line) {
  const bool keep_semicolon = HasSend(line.c_str());
  std::string command;
  for (const char c : line) {
    if (c == ';' && !keep_semicolon) break;
    if (!IsControl(c)) command.push_back(c);
  }
  return command;
}

// Every command of the file fits the card's line; the first that does not
// is reported with its file and line (from the file's naming comments and
// line tags, as the senders name them) and nothing is sent.
bool CommandsFitTheCard(const char* path) {
  std::FILE* f = OpenHostFile(path, "rb");
  if (f == nullptr) return true;  // the sender reports it
  char file_name[kSourceNameSize];
  std::snprintf(file_name, sizeof file_name, "%s", path != nullptr ? path : "");
  std::string line;
  std::uint32_t lines_read = 0;
  bool fits = true;
  while (ReadWholeLine(f, &line)) {
    ++lines_read;
    std::uint32_t number = lines_read;
    const std::size_t semicolon = line.find(';');
    if (semicolon != std::string::npos) {
      const char* p = line.c_str() + semicolon;
      if (p[1] >= '0' && p[1] <= '9') number = static_cast<std::uint32_t>(CommentLineNumber(p));
      CommentSourceName(p, file_name, sizeof file_name);
    }
    if (CommandOf(line).size() > kCardLineMax) {
      char text[kReportTextSize];
      std::snprintf(text, sizeof text, "Line longer than %u characters in %s",
                    static_cast<unsigned>(kCardLineMax), file_name);
      DownloadState::Instance().ReportDownloadError(text, number);
      fits = false;
      break;
    }
  }
  std::fclose(f);
  return fits;
}

// Bus, dual-ported RAM and serial cards: one line at a time, its reply read
// before the next goes out.
void SendLines(int device, const char* path) {
  DownloadState& state = DownloadState::Instance();
  const std::uint32_t d = static_cast<std::uint32_t>(device);
  if (!OpenHere(device)) {
    state.ReportDownloadError("ZIMO Device not open.", 0);
    return;
  }
  LockZimo(d);
  SharedDeviceBlock* block = App().Block(device);
  if (block->Location == kLocationSerial && ChecksumsOn(device)) {
    state.ReportDownloadMessage("+++ Doing checksummed communications +++");
  }
  block->DownloadBusy = 1;
  std::FILE* f = OpenHostFile(path, "rb");
  if (f == nullptr) {
    state.ReportDownloadError("Could not open file.", 0);
  } else {
    const long length = FileLength(f);
    ZimoSendCommandA(d, "close");
    ReportText("Downloading file: %s", path);
    char file_name[kSourceNameSize];
    std::snprintf(file_name, sizeof file_name, "%s", path);
    std::string whole;
    std::string sent;
    std::uint32_t line_number = 0;
    std::uint32_t lines_read = 0;
    bool waiting = false;
    bool progress_due = false;  // reported once the line's reply is in
    char reply[kReplySize];
    while (!state.aborted()) {
      if (waiting) {
        for (;;) {
          const std::uint32_t word = ZimoGetLineExA(d, reply, kReplySize);
          const std::uint32_t status = word & kStatusMask;
          // Plain lines and unsolicited lines (kept in the ring) are not
          // the end of the reply.
          if (status == kStatusLine || status == kStatusUnsolicited) continue;
          if ((status & kErrorBits) != 0) {
            const std::int32_t number = status == kStatusTimeout
                                            ? static_cast<std::int32_t>(kTimeoutError)
                                            : ErrorNumberIn(reply);
            ReportGap gap(d);
            state.ReportCardError(file_name, number, line_number, sent.c_str());
          }
          break;
        }
        waiting = false;
        if (progress_due) {
          ReportGap gap(d);
          ReportPosition(f, length);
          progress_due = false;
        }
        continue;
      }
      if (!ReadWholeLine(f, &whole)) break;
      ++lines_read;
      if (whole.find("->") != std::string::npos) {
        std::string packed;
        for (const char c : whole) {
          if (!IsControl(c) && c != ' ' && c != '\t') packed.push_back(c);
        }
        whole = packed;
      }
      const char* line = whole.c_str();
      const bool keep_semicolon = HasSend(line);
      sent.clear();
      const char* p = line;
      for (; *p != '\0'; ++p) {
        if (*p == ';' && !keep_semicolon) break;
        if (!IsControl(*p)) sent.push_back(*p);
      }
      line_number = lines_read;
      if (*p == ';') {
        if (p[1] >= '0' && p[1] <= '9') line_number = CommentLineNumber(p);
        CommentSourceName(p, file_name, sizeof file_name);
      }
      if (!sent.empty()) {
        ZimoSendLineA(d, sent.c_str());
        waiting = true;
      }
      if (lines_read % 5 == 0) {
        if (waiting) {
          progress_due = true;
        } else {
          ReportGap gap(d);
          ReportPosition(f, length);
        }
      }
    }
    std::fclose(f);
  }
  block->DownloadBusy = 0;
  ReleaseZimo(d);
}

bool UsbSend(int device, const char* data, std::uint32_t size, std::uint32_t* status) {
  return UsbWriteBlock(device, data, size) && UsbReadBlockStatus(device, status);
}

bool EthSend(int device, const char* data, std::uint32_t size, std::uint32_t* status) {
  *status = EthWriteBuffer(static_cast<std::uint32_t>(device), data, size);
  return true;
}

struct BlockSender {
  BlockSend send;
  std::uint32_t capacity;
  std::uint32_t threshold;
  const char* missing_text;
  const char* opening;
};

// USB and Ethernet cards: blocks of NUL-ended lines; a failing line is
// answered with its position and only what follows it goes out again.
void SendBlocks(int device, const char* path, const BlockSender& how) {
  DownloadState& state = DownloadState::Instance();
  const std::uint32_t d = static_cast<std::uint32_t>(device);
  if (!OpenHere(device)) {
    state.ReportDownloadError(how.missing_text, 0);
    return;
  }
  LockZimo(d);
  SharedDeviceBlock* block = App().Block(device);
  char reply[kReplySize];
  ZimoFlush(d);
  ZimoSendLineA(d, how.opening);
  ZimoGetLineA(d, reply, kReplySize);
  ZimoFlush(d);
  // Opened read-only: the sender never writes the file.
  std::FILE* f = OpenHostFile(path, "rb");
  if (f == nullptr) {
    state.ReportDownloadError("Could not open file.", 0);
    ReleaseZimo(d);
    return;
  }
  const auto started = std::chrono::steady_clock::now();
  const long length = FileLength(f);
  ReportText("Downloading file: %s", path);
  block->DownloadBusy = 1;

  // The files named so far, and for each line in the buffer the index of
  // its file there.
  std::vector<std::string> files{path};
  std::size_t current_file = 0;
  std::string buffer;
  buffer.reserve(how.capacity);
  std::vector<std::size_t> names;
  names.reserve(how.capacity / 2);
  std::vector<std::uint32_t> numbers;  // each line's number in its file
  numbers.reserve(how.capacity / 2);
  std::size_t offset = 0;        // where the next send starts
  std::size_t first_unsent = 0;  // index of the first line at `offset`
  std::uint32_t lines_read = 0;
  std::string whole;
  bool more = true;
  bool failed = false;
  while (more && !state.aborted() && !failed) {
    more = ReadWholeLine(f, &whole);
    if (more) {
      const char* line = whole.c_str();
      ++lines_read;
      char name[kSourceNameSize];
      if (CommentSourceName(line, name, sizeof name) && files[current_file] != name) {
        files.emplace_back(name);
        current_file = files.size() - 1;
      }
      const std::size_t start = buffer.size();
      for (const char* p = line; *p != '\0'; ++p) {
        if (!IsControl(*p)) buffer.push_back(*p);
      }
      // The card takes a line of the block up to its 255 characters: where
      // the line's comment would pass that, only its command goes, and its
      // number stays here for the report.
      if (buffer.size() - start > kCardLineMax) {
        buffer.resize(start);
        buffer += CommandOf(whole);
      }
      if (buffer.size() != start) {
        buffer.push_back('\0');
        names.push_back(current_file);
        std::uint32_t number = lines_read;
        if (const char* semicolon = std::strchr(line, ';');
            semicolon != nullptr && semicolon[1] >= '0' && semicolon[1] <= '9') {
          number = static_cast<std::uint32_t>(CommentLineNumber(semicolon));
        }
        numbers.push_back(number);
      }
      if (lines_read % 5 == 0) {
        ReportGap gap(d);
        ReportPosition(f, length);
      }
      if (buffer.size() < how.threshold) continue;
    }
    while (offset < buffer.size() && !state.aborted()) {
      std::uint32_t status = 0;
      if (!how.send(device, buffer.data() + offset,
                    static_cast<std::uint32_t>(buffer.size() - offset), &status)) {
        state.ReportDownloadError("Download block was not taken by the card.", 0);
        failed = true;
        break;
      }
      if ((status & kBlockLineFailed) == 0) break;
      const std::size_t part_lines = names.size() - first_unsent;
      const std::size_t position = status & 0xFFFF;
      if (position == 0 || position > part_lines) {
        char text[kReportTextSize];
        std::snprintf(text, sizeof text, "Download protocol error: block status %08X.",
                      static_cast<unsigned>(status));
        state.ReportDownloadError(text, 0);
        failed = true;
        break;
      }
      // The failing line, and past it for the next send.
      std::size_t at = offset;
      for (std::size_t k = 1; k < position; ++k) at += std::strlen(buffer.data() + at) + 1;
      const char* failing = buffer.data() + at;
      const std::size_t index = first_unsent + position - 1;
      std::int32_t number = static_cast<std::int32_t>((status >> 16) & 0xFF);
      if (number == 0) number = 3;
      {
        ReportGap gap(d);
        state.ReportCardError(files[names[index]].c_str(), number, numbers[index], failing);
      }
      offset = at + std::strlen(failing) + 1;
      first_unsent = index + 1;
    }
    buffer.clear();
    names.clear();
    numbers.clear();
    offset = 0;
    first_unsent = 0;
  }
  std::fclose(f);
  ZimoFlush(d);
  state.ReportDownloadMessage("Download Complete!!");
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - started)
                           .count();
  char text[kReportTextSize];
  std::snprintf(text, sizeof text, "Downloaded %d lines in %d msecs", static_cast<int>(lines_read),
                static_cast<int>(elapsed));
  state.ReportDownloadMessage(text);
  block->DownloadBusy = 0;
  ReleaseZimo(d);
}

}  // namespace

std::chrono::milliseconds SetBlockDownloadPauseForTesting(std::chrono::milliseconds pause) {
  return std::chrono::milliseconds(g_block_pause_ms.exchange(pause.count()));
}

}  // namespace zimo::corvan

using namespace zimo::corvan;

extern "C" void ZimoDownloadFile(std::uint32_t device, const char* path) {
  const int d = IndexFromDeviceNumber(device);
  CommLibraryApp& app = App();
  app.MapTable();
  const SharedDeviceBlock* block = app.Block(d);
  const std::uint32_t location = block != nullptr ? block->Location : kLocationUnknown;
  bool block_sender = false;
  // A line the card cannot take whole is never split into two commands.
  if (!CommandsFitTheCard(path)) return;
  if (location == kLocationUsb) {
    SendBlocks(d, path,
               {UsbSend, kUsbDownloadBlock, kUsbDownloadThreshold, "ZIMO USB Device not found.",
                "CLOSEI3=2"});
    block_sender = true;
  } else if (location == kLocationEthernet) {
    SendBlocks(
        d, path,
        {EthSend, kEthDownloadBlock, kEthDownloadThreshold, "ZIMO Ethernet Device not found.",
         app.server_build() ? "CLOSE I3=2" : "CLOSEI3=2"});
    block_sender = true;
  } else {
    SendLines(d, path);
  }
  DownloadState& state = DownloadState::Instance();
  if (state.aborted()) {
    char reply[80];
    ZimoGetResponseA(device, reply, sizeof reply, "CLOSE");
  }
  if (block_sender) {
    const std::int64_t pause = g_block_pause_ms.load(std::memory_order_relaxed);
    if (pause > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
  }
}
