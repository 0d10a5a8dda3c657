// PLC compiler speed: source lines compiled per second for a large program
// (32 PLCs, a few thousand lines of assignments, IF/ELSE, WHILE, L arrays,
// COMMAND and DISPLAY), beside a floor that does only the input and output
// work of the same compile: it reads the same source line by line and
// writes the compiler's own output text line by line.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "plcc/plcc_compiler.h"

namespace {

using namespace zimo::corvan::plcc;

PlccTarget Target() {
  PlccTarget t = PlccTarget::Spran("1.940");
  return t;
}

std::string Source(int* lines) {
  std::string s = "L1->X:$10,24\nL2->Y:$20,8,8\nL5->X:$100[16]\n";
  int n = 3;
  for (int plc = 0; plc < 32; ++plc) {
    s += "OPEN PLCC " + std::to_string(plc) + "\n";
    ++n;
    for (int i = 0; i < 10; ++i) {
      s += "P" + std::to_string(i + 1) + "=P" + std::to_string(i + 2) + "+P3*2.5-Q" +
           std::to_string(i) + "\n";
      s += "IF (P1>P2 AND L1<3)\n";
      s += "L5[L1]=L2+" + std::to_string(i) + "\n";
      s += "ELSE\n";
      s += "L1=L5[2]|L2\n";
      s += "ENDIF\n";
      s += "WHILE (P4!~1)\n";
      s += "P4=ABS(-P4)/2\n";
      s += "DISPLAY 10,8.3,P5\n";
      s += "ENDWHILE\n";
      s += "COMMAND\"#1J+\"\n";
      n += 11;
    }
    s += "CLOSE\n";
    ++n;
  }
  *lines = n;
  return s;
}

std::string Compile(const std::string& source) {
  std::FILE* in = fmemopen(const_cast<char*>(source.data()), source.size(), "rb");
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* out = open_memstream(&text, &length);
  const PlccCompileResult r = CompilePlccStream(Target(), in, out, nullptr);
  std::fclose(in);
  std::fclose(out);
  std::string output(text, length);
  std::free(text);
  if (r.result != 0) output.clear();
  return output;
}

void BM_PlccCompile(benchmark::State& state) {
  int lines = 0;
  const std::string source = Source(&lines);
  if (Compile(source).empty()) {
    state.SkipWithError("the program did not compile");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(Compile(source));
  state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(BM_PlccCompile)->Unit(benchmark::kMillisecond);

// Reads the source a line at a time and writes the compiled output a line
// at a time, through the same kind of streams.
void BM_PlccFloor(benchmark::State& state) {
  int lines = 0;
  const std::string source = Source(&lines);
  const std::string output = Compile(source);
  std::vector<std::string> out_lines;
  for (std::size_t at = 0; at < output.size();) {
    const std::size_t end = output.find("\r\n", at);
    out_lines.push_back(output.substr(at, end - at));
    at = end + 2;
  }
  for (auto _ : state) {
    std::FILE* in = fmemopen(const_cast<char*>(source.data()), source.size(), "rb");
    char* text = nullptr;
    std::size_t length = 0;
    std::FILE* out = open_memstream(&text, &length);
    std::string line;
    int ch;
    while ((ch = std::fgetc(in)) != EOF) {
      if (ch == '\n') {
        benchmark::DoNotOptimize(line.data());
        line.clear();
      } else {
        line.push_back(static_cast<char>(ch));
      }
    }
    for (const std::string& l : out_lines) {
      std::fputs(l.c_str(), out);
      std::fputs("\r\n", out);
    }
    std::fclose(in);
    std::fclose(out);
    std::free(text);
  }
  state.SetItemsProcessed(state.iterations() * lines);
}
BENCHMARK(BM_PlccFloor)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
