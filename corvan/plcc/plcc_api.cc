// The compiler's export: the device's shared record describes the card, the
// library's download reporters receive the errors, and the record takes the
// compilation's lasting effects.
#include "corvan/plcc_api.h"

#include <cstring>
#include <string>

#include "download/download_state.h"
#include "link/library_app.h"
#include "platform/codepage.h"
#include "platform/win_path.h"
#include "plcc/plcc_compiler.h"

namespace zimo::corvan::plcc {

namespace {

constexpr std::size_t kPathBuffer = 260;

class DownloadErrorSink : public PlccErrorSink {
 public:
  void ReportError(const char* file, int error, std::uint32_t line, const char* text) override {
    DownloadState& state = DownloadState::Instance();
    state.set_compiler_error(true);
    state.ReportCardError(file, error, line, text);
  }
  void ReportFileError(int error, const char* file, const char* why) override {
    DownloadState& state = DownloadState::Instance();
    state.set_compiler_error(true);
    state.ReportCardError(file, error, 0, why);
  }
};

PlccTarget TargetOf(const SharedDeviceBlock& block) {
  PlccTarget t;
  t.spran = block.SpranFlag != 0;
  t.firmware.assign(block.FirmwareVersion, strnlen(block.FirmwareVersion, kFirmwareTextSize));
  for (int i = 0; i < kLinkListWords; ++i) t.link_list[i] = block.LinkList[i];
  t.table_base = block.PlcTableBase;
  t.chain_end = block.PlcChainEnd;
  t.code_start = block.PlcCodeStart;
  t.slot_table = block.PlcSlotTable;
  t.variable_count = block.CardVariableCount;
  return t;
}

std::string HostPath(const char* path) {
  return platform::ToHostPath(platform::Cp1252ToUtf8(path)).string();
}

// The 8-bit form of a 16-bit path, or false when a character has none or
// the path does not fit the 260-byte buffer.
bool NarrowPath(const char16_t* path, std::string& out) {
  if (path == nullptr) return false;
  out.clear();
  for (const char16_t* p = path; *p != u'\0'; ++p) {
    const char ch = platform::Utf16ToCp1252Char(*p);
    if (ch == '?' && *p != u'?') return false;
    out.push_back(ch);
  }
  return out.size() < kPathBuffer;
}

}  // namespace

}  // namespace zimo::corvan::plcc

using namespace zimo::corvan;

extern "C" std::int32_t ZimoPlccCompilerA(std::uint32_t device, std::uint32_t* words,
                                          const char* input, const char* output) {
  CommLibraryApp& app = CommLibraryApp::Instance();
  app.MapTable();
  SharedDeviceBlock* block = app.Block(static_cast<int>(device));
  if (block == nullptr) {
    if (words != nullptr) *words = 0;
    return -1;
  }
  plcc::PlccTarget target = plcc::TargetOf(*block);
  target.server_build = app.server_build();
  plcc::DownloadErrorSink sink;
  const std::string in = input != nullptr ? plcc::HostPath(input) : std::string();
  const std::string out = output != nullptr ? plcc::HostPath(output) : std::string();
  const plcc::PlccCompileResult r =
      plcc::CompilePlccFile(target, input != nullptr ? in.c_str() : nullptr,
                            output != nullptr ? out.c_str() : nullptr, &sink);
  // The extended firmware's routines sit at fixed addresses; the record
  // keeps that table from now on.
  if (r.extended_firmware) {
    for (std::uint32_t i = 0; i < 62; ++i) block->LinkList[i] = 0xFF00u + 2u * i;
  }
  if (r.servo_opened) block->CpuModel = 56303;
  if (words != nullptr) *words = r.words;
  return r.result;
}

extern "C" std::int32_t ZimoPlccCompilerW(std::uint32_t device, std::uint32_t* words,
                                          const char16_t* input, const char16_t* output) {
  std::string in;
  std::string out;
  if (!plcc::NarrowPath(input, in) || !plcc::NarrowPath(output, out)) return -1;
  return ZimoPlccCompilerA(device, words, in.c_str(), out.c_str());
}
