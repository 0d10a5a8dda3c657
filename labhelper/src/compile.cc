// compile_the_file: the demacrotized algorithm through the PLC compiler's
// core, for an older card with the routine addresses of "LISTLINK.TXT";
// a refused line is named by the student's line number of its tag.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "algorithm.h"
#include "files.h"
#include "labhelper/qeldll32.h"
#include "platform/message.h"
#include "plcc/plcc_compilation.h"
#include "plcc/plcc_compiler.h"

namespace zimo::labhelper {

namespace plcc = corvan::plcc;

namespace {

constexpr char kLinkListName[] = "LISTLINK.TXT";
constexpr char kLabWrites[] = "listlink.txt";
constexpr std::size_t kLinkListMostBytes = 1 << 16;

void Warn(const char* text, const char* title) {
  platform::ShowMessageBox(text, title, platform::kMbOk | platform::kMbIconExclamation);
}

// The link list in the current folder, whatever the case of its name. Where
// names differing only in case stand side by side, the one written last is
// the list the lab program has just saved; the others are left-overs.
bool ReadLinkListFile(std::uint32_t (&values)[plcc::kLabLinkValues]) {
  std::string found;
  struct timespec newest {};
  if (DIR* dir = opendir(".")) {
    while (const dirent* entry = readdir(dir)) {
      if (strcasecmp(entry->d_name, kLinkListName) != 0) continue;
      struct stat st {};
      if (stat(entry->d_name, &st) != 0 || !S_ISREG(st.st_mode)) continue;
      const bool same_time =
          st.st_mtim.tv_sec == newest.tv_sec && st.st_mtim.tv_nsec == newest.tv_nsec;
      // Written in the same instant: the name the lab program writes.
      const bool newer = found.empty() || st.st_mtim.tv_sec > newest.tv_sec ||
                         (st.st_mtim.tv_sec == newest.tv_sec && st.st_mtim.tv_nsec > newest.tv_nsec) ||
                         (same_time && std::strcmp(entry->d_name, kLabWrites) == 0);
      if (newer) {
        found = entry->d_name;
        newest = st.st_mtim;
      }
    }
    closedir(dir);
  }
  if (found.empty()) return false;
  std::FILE* f = OpenForReading(found.c_str());
  if (f == nullptr) return false;
  std::vector<char> text(kLinkListMostBytes);
  const std::size_t size = std::fread(text.data(), 1, text.size(), f);
  std::fclose(f);
  return ParseLinkList(text.data(), size, values);
}

// The student's line of the first tagged line at or after input line
// `failing`, read as the compiler reads; when none follows (or the failure
// has no line), the number of lines read + 1.
unsigned StudentLine(std::FILE* in, std::uint32_t failing) {
  std::string line;
  unsigned count = 0;
  while (plcc::ReadPlccSourceLine(in, line)) {
    ++count;
    if (failing == 0 || count < failing) continue;
    const std::size_t at = line.find(';');
    if (at == std::string::npos || line.compare(at, 6, ";Line ") != 0) continue;
    const char* digits = line.c_str() + at + 6;
    if (*digits < '0' || *digits > '9') continue;
    return static_cast<unsigned>(std::strtoul(digits, nullptr, 10) & 0xFFFFFFFFu);
  }
  return count + 1;
}

}  // namespace

bool ParseLinkList(const char* text, std::size_t size,
                   std::uint32_t (&values)[plcc::kLabLinkValues]) {
  int count = 0;
  std::size_t i = 0;
  while (count < plcc::kLabLinkValues) {
    while (i < size && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) {
      ++i;
    }
    if (i >= size) break;
    std::uint64_t v = 0;
    std::size_t digits = 0;
    for (; i < size; ++i, ++digits) {
      const char c = text[i];
      int d;
      if (c >= '0' && c <= '9') {
        d = c - '0';
      } else if (c >= 'A' && c <= 'F') {
        d = c - 'A' + 10;
      } else if (c >= 'a' && c <= 'f') {
        d = c - 'a' + 10;
      } else {
        break;
      }
      if (v <= 0xFFFFFF) v = v * 16 + static_cast<std::uint64_t>(d);
    }
    // Card addresses are 24-bit words: anything else is no address.
    if (digits == 0 || v == 0 || v > 0xFFFFFF) break;
    if (i < size && text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n') break;
    values[count++] = static_cast<std::uint32_t>(v);
  }
  return count == plcc::kLabLinkValues;
}

plcc::PlccTarget LabTarget(const std::uint32_t (&values)[plcc::kLabLinkValues]) {
  plcc::PlccTarget t = plcc::PlccTarget::Older("");
  t.language = plcc::PlccLanguage::kLab;
  t.limits.tokens = 6480;
  t.limits.program_tokens = 6479;
  t.limits.code_words = 15360;
  t.limits.total_words = 15246;
  t.limits.pool_bytes = 2048;
  t.limits.open_structures = 124;
  t.has_lab_routines = true;
  t.lab_routines = plcc::MakeLabRoutineTable(values);
  t.first_line = "DISABLE PLCC 0..31";
  t.table_start_line.clear();
  t.refuse_long_lines = true;
  return t;
}

}  // namespace zimo::labhelper

using namespace zimo::labhelper;

extern "C" int16_t compile_the_file(const char* input, const char* output) {
  std::uint32_t values[plcc::kLabLinkValues] = {};
  // Without every routine address the code would call nowhere.
  if (!ReadLinkListFile(values)) {
    Warn("Unable to open temp files.", "Error");
    return 2;
  }
  plcc::PlccCompileResult result;
  result.result = plcc::kErrInput;
  if (std::FILE* in = input != nullptr ? OpenForReading(input) : nullptr) {
    if (std::FILE* out = output != nullptr ? OpenForWriting(output) : nullptr) {
      result = plcc::CompilePlccStream(LabTarget(values), in, out, nullptr);
      if (std::fclose(out) != 0 && result.result == 0) result.result = plcc::kErrOutput;
    } else {
      result.result = plcc::kErrOutput;
    }
    std::fclose(in);
  }
  if (result.result == 0) return 0;
  std::FILE* again = input != nullptr ? OpenForReading(input) : nullptr;
  if (again == nullptr) {
    Warn("Unable to open temp files.", "Error");
    return 2;
  }
  const unsigned line = StudentLine(again, result.input_line);
  std::fclose(again);
  char message[64];
  std::snprintf(message, sizeof message, "Error on line %u", line);
  Warn(message, "PLCC Compiler Error");
  return 1;
}
