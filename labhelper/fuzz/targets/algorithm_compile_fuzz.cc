// Fuzz target: compile_the_file on any "plc0.$$$". It answers 0 or 1 (the
// link list is there), and a compiled file starts with the line that
// disables the compiled programs, its lines all CR LF.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "labhelper/qeldll32.h"

namespace zimo::testing {

const int kFuzzGeneratedInputs = 600;

std::vector<std::uint8_t> FuzzGenerate(std::mt19937& random) {
  static const char* kLines[] = {"OPEN PLCC 0",
                                 "OPN PLCC 3",
                                 "CLOSE",
                                 "CLS",
                                 "IF(P1>2)",
                                 "WHILE(M5<1)",
                                 "AND(P2=1)",
                                 "OR(L108!~3)",
                                 "ELSE",
                                 "ENDIF",
                                 "ENDW",
                                 "P1=P2*3.5-1",
                                 "M100=(P1+P2)/2",
                                 "L108=L108+1",
                                 "CMD\"#1J+\"",
                                 "CMD^A",
                                 "SENDS\"x\"",
                                 "ENABLE PLC 1..3,5",
                                 "DIS PLCC 0",
                                 "DISPLAY 3,8.2,P1",
                                 "ADDRESS #2",
                                 "CLEAR",
                                 "L108->X:$8,0,24,S",
                                 "L7->Y:$10,4,4",
                                 "P1=SIN(P2)",
                                 "% copied",
                                 "P1=ATAN2(P2,P3)",
                                 "M5&=3",
                                 "P1=-(P2+1)",
                                 "P1=$10+I5"};
  std::string text;
  const int n = static_cast<int>(random() % 40);
  for (int i = 0; i < n; ++i) {
    if (random() % 10 == 0) {
      text.push_back(static_cast<char>(random()));
    } else {
      text += kLines[random() % (sizeof kLines / sizeof kLines[0])];
    }
    text += random() % 4 == 0 ? " ;Line " + std::to_string(i + 1) + "\r\n" : "\n";
  }
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace zimo::testing

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  labhelper_fuzz::QuietBoxes();
  labhelper_fuzz::EnterScratchFolder();
  static const bool link = [] {
    std::FILE* f = std::fopen("listlink.txt", "wb");
    if (f == nullptr) std::abort();
    for (unsigned k = 0; k < 41; ++k) std::fprintf(f, "%06X\r\n", k % 2 ? 0x2000 + k : 0x400 + k);
    std::fclose(f);
    return true;
  }();
  (void)link;
  std::FILE* f = std::fopen("plc0.$$$", "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  const int16_t r = compile_the_file("plc0.$$$", "plc0.56k");
  if (r != 0 && r != 1) std::abort();
  if (r == 0) {
    std::FILE* out = std::fopen("plc0.56k", "rb");
    if (out == nullptr) std::abort();
    std::string text;
    for (int c; (c = std::fgetc(out)) != EOF;) text.push_back(static_cast<char>(c));
    std::fclose(out);
    if (text.rfind("DISABLE PLCC 0..31\r\n", 0) != 0) std::abort();
  }
  return 0;
}
