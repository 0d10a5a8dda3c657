// Fuzz target: the PLC compiler core. The input is a card program source;
// it is compiled for both card generations, as it is and wrapped in a PLC
// block. No input may crash the compiler or upset a sanitizer, and every
// successful compile must give code that passes the structure check (an
// assembly listing only has to come out without a fault).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "plcc/plcc_compiler.h"
#include "plcc_verifier.h"

namespace {

using namespace zimo::corvan::plcc;

PlccTarget Target(bool spran) {
  PlccTarget t = spran ? PlccTarget::Spran("1.940") : PlccTarget::Older("1.16F");
  for (std::uint32_t k = 0; k < kLinkListWords; ++k) t.link_list[k] = 0x2000 + 16 * k;
  return t;
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

void CompileAndCheck(const PlccTarget& t, const std::string& source) {
  std::FILE* in = fmemopen(const_cast<char*>(source.data()), source.size(), "rb");
  if (in == nullptr) return;
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&text, &length);
  if (out == nullptr) {
    std::fclose(in);
    return;
  }
  const PlccCompileResult r = CompilePlccStream(t, in, out, nullptr);
  std::fclose(in);
  std::fclose(out);
  const std::string output(text, length);
  std::free(text);
  if (r.result != 0 || r.words == 0) return;
  // A listing carries text in place of the block's memory writes.
  if (Upper(source).find("ASMOUT") != std::string::npos) return;

  // Lines of the source are copied to the output; only the compiler's own
  // memory writes count.
  std::set<std::string> copied;
  std::size_t start = 0;
  while (start <= source.size()) {
    std::size_t end = source.find('\n', start);
    if (end == std::string::npos) end = source.size();
    std::string line = source.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    copied.insert(Upper(line));
    start = end + 1;
  }
  std::map<std::uint32_t, std::uint32_t> memory;
  start = 0;
  while (start < output.size()) {
    std::size_t end = output.find("\r\n", start);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(start, end - start);
    start = end + 2;
    if (line.rfind("WP:$", 0) != 0 || copied.count(line) != 0) continue;
    std::vector<std::uint32_t> fields;
    for (std::size_t at = line.find('$'); at != std::string::npos; at = line.find('$', at + 1)) {
      fields.push_back(
          static_cast<std::uint32_t>(std::strtoul(line.c_str() + at + 1, nullptr, 16)));
    }
    for (std::size_t i = 1; i < fields.size(); ++i) {
      memory[fields[0] + static_cast<std::uint32_t>(i - 1)] = fields[i];
    }
  }
  std::uint32_t origin = t.code_start;
  std::uint32_t count = r.words >= 98 ? r.words - 98 : 0;
  if (r.servo_opened) {
    origin = 0x40040;
    count = r.words - 64;
  } else if (memory.count(0x4002) != 0 && memory[0x4002] == 0x4004 &&
             memory.count(t.table_base) == 0) {
    origin = 0x4004;
    count = r.words;
  }
  std::vector<std::uint32_t> code;
  for (std::uint32_t a = origin; a < origin + count; ++a) code.push_back(memory[a]);
  zimo::corvan::plcc::testing::VerifierTargets targets;
  targets.slot_table = t.slot_table;
  targets.chain_end = t.chain_end;
  for (std::uint32_t k = 0; k < kLinkListWords; ++k) {
    targets.routines.insert(t.link_list[k]);
    targets.routines.insert(0xFF00 + 2 * k);
  }
  // Divide and modulo have a second entry one word on.
  targets.routines.insert(t.link_list[39] + 1);
  targets.routines.insert(t.link_list[40] + 1);
  // VARPLCC sections divide and take the modulo at 4 to 7.
  for (std::uint32_t k = 4; k <= 7; ++k) targets.routines.insert(k);
  for (std::uint32_t k : {37u, 41u, 42u}) {
    targets.text_routines.insert(t.link_list[k]);
    targets.text_routines.insert(0xFF00 + 2 * k);
  }
  const std::string fault = zimo::corvan::plcc::testing::VerifyPlccCode(code, origin, targets);
  if (!fault.empty()) {
    std::fprintf(stderr, "structure fault: %s\nsource:\n%s\n", fault.c_str(), source.c_str());
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 8192) return 0;
  const std::string source(reinterpret_cast<const char*>(data), size);
  const std::string wrapped = "OPEN PLCC 1\n" + source + "\nCLOSE\n";
  for (bool spran : {false, true}) {
    CompileAndCheck(Target(spran), source);
    CompileAndCheck(Target(spran), wrapped);
  }
  return 0;
}
