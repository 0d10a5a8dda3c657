// The BEGIN/END check and the demacrotizer: the student's text becomes
// card PLC source in "plc0.$$$", each line tagged with the student's line.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "algorithm.h"
#include "labhelper/qeldll32.h"
#include "platform/message.h"

namespace zimo::labhelper {

namespace {

constexpr char kTempFile[] = "plc0.$$$";
constexpr std::size_t kReplacementMost = 81;

bool IsNameChar(unsigned char c) {
  return (c >= '0' && c <= '9') || c == ':' || c == '@' || (c >= 'A' && c <= 'Z') || c == '_' ||
         (c >= 'a' && c <= 'z') || (c >= '{' && c <= 0x7F);
}
bool IsLetter(unsigned char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsPrintable(unsigned char c) { return c >= 0x20 && c <= 0x7E; }
// White space of a definition: everything but the line feed, which ends it.
bool IsInlineSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}
char Upper(unsigned char c) { return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c); }

bool IsNull(const std::string& s) {
  return s.size() == 4 && Upper(static_cast<unsigned char>(s[0])) == 'N' &&
         Upper(static_cast<unsigned char>(s[1])) == 'U' &&
         Upper(static_cast<unsigned char>(s[2])) == 'L' &&
         Upper(static_cast<unsigned char>(s[3])) == 'L';
}

void Warn(const char* text, const char* title) {
  platform::ShowMessageBox(text, title, platform::kMbOk | platform::kMbIconExclamation);
}

// Text-mode output: every line feed becomes CR LF.
class TextFile {
 public:
  explicit TextFile(std::FILE* f) : f_(f) {}
  ~TextFile() { Close(); }
  void Close() {
    if (f_ != nullptr) std::fclose(f_);
    f_ = nullptr;
  }
  void Put(const std::string& text) {
    for (char c : text) {
      if (c == '\n') std::fputc('\r', f_);
      std::fputc(c, f_);
    }
  }

 private:
  std::FILE* f_;
};

}  // namespace

int FrameRateNumber(float sample_time) {
  double x = std::trunc(static_cast<double>(sample_time) * 1136.3636363636363);
  if (!(std::fabs(x) < 2147483648.0)) x = 0;  // no number: no rate
  const auto kept = static_cast<std::int16_t>(static_cast<std::int32_t>(x));
  return kept - 1;
}

std::string ProgramFrame(int rate) {
  char middle[512];
  std::snprintf(middle, sizeof middle,
                "IF(L108>%d)\nL109=L109+1\nIF(L109>2)\nM101=1\nM104=0\nM100=0\nM127=0\n"
                "IF(P999=0)\nCMD^A\nCMD%cENDG%c\nM106=0\nP7=1\nP999=1\nL109=0\nENDIF\n"
                "disable plcc 0\nENDIF\nENDIF\nL904=L904+1\nIF(L904>%d)\nL904=0\n"
                "if(p1000!<11)\n",
                rate, 34, 34, rate);
  return std::string(
             "L108->X:$8,0,24,S\nL109->X:$770,0,24,S\nL904->X:$771,0,24,S\n"
             "L905->y:$771,0,24,S\nOPENPLCC0\n") +
         middle +
         "P900=M10/32\nP901=M11/32\nP902=M12/32\nP903=M13/32\nP905=M9/32\nP906=M14/32\n"
         "else\nP900=M10\nP901=M11\nP902=M12\nP903=M13\nP905=M9\nP906=M14\nendif\n";
}

}  // namespace zimo::labhelper

using namespace zimo::labhelper;

extern "C" int16_t check_for_BEGIN_and_END(char* text) {
  if (text == nullptr) return 0;
  const std::size_t length = strnlen(text, 0xFFFF);
  if (length >= 0xFFFF) return 0;  // its length does not count in 16 bits
  static const char kBegin[] = "BEGIN";
  static const char kEnd[] = "END";
  const char* word = kBegin;
  std::size_t matched = 0;
  int16_t result = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (Upper(static_cast<unsigned char>(text[i])) == word[matched]) {
      if (word[++matched] != '\0') continue;
      if (word == kEnd) {
        result = 1;
        break;
      }
      word = kEnd;
    }
    matched = 0;
  }
  if (length == 0 || text[length - 1] != '\n') {
    text[length] = '\n';
    text[length + 1] = '\0';
  }
  return result;
}

extern "C" int16_t demacrotize_the_file(char* text, const char* /*output_name*/,
                                        float sample_time) {
  std::FILE* f = std::fopen(kTempFile, "wb");
  if (f == nullptr) {
    Warn("Unable to open temp files.", "Error");
    return 2;
  }
  TextFile out(f);
  std::map<std::string, std::string> macros = {
      {"CONTROL_EFFORT", "m100"},
      {"CMD_POS", "P900"},
      {"ENC1_POS", "P901"},
      {"ENC2_POS", "P902"},
      {"SENSOR1_POS", "P901"},
      {"SENSOR2_POS", "P902"},
      {"ENC3_POS", "P903"},
      {"CMD1_POS", "P900"},
      {"CMD2_POS", "P905"},
      {"ENC4_POS", "P906"},
      {"CONTROL_EFFORT1", "m100"},
      {"CONTROL_EFFORT2", "m127"},
      {"BEGIN", ProgramFrame(FrameRateNumber(sample_time))},
      {"END", "ENDIF\nCLOSE"},
  };
  if (text == nullptr) return 0;
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  std::string line;
  std::uint16_t line_number = 0;
  while (*p != '\0') {
    const unsigned char c = *p;
    if (c == '\n') {
      ++line_number;
      if (!line.empty()) {
        char tag[32];
        std::snprintf(tag, sizeof tag, " ;Line %u\n", static_cast<unsigned>(line_number));
        out.Put(line + tag);
        line.clear();
      }
      ++p;
    } else if (c == ' ') {
      line.push_back(' ');
      ++p;
    } else if (c == '\t' || c == '\r' || c == '\v' || c == '\f') {
      ++p;
    } else if (c == ';') {
      while (*p != '\0' && *p != '\n' && *p != '\r') ++p;
    } else if (c == '#') {
      ++p;
      std::string letters;
      while (IsLetter(*p)) letters.push_back(static_cast<char>(*p++));
      std::string upper;
      for (char l : letters) upper.push_back(Upper(static_cast<unsigned char>(l)));
      if (upper != "DEFINE") {
        line += '#';
        line += letters;
        // A character right after a bare '#' passes as it stands unless it
        // ends the line or the text; the one after a word is read normally.
        if (letters.empty() && *p != '\0' && *p != '\n' && *p != '\r') {
          line.push_back(static_cast<char>(*p++));
        }
        continue;
      }
      // Name and replacement come from the definition's own line.
      while (IsInlineSpace(*p)) ++p;
      std::string name;
      while (IsNameChar(*p)) name.push_back(Upper(*p++));
      while (IsInlineSpace(*p)) ++p;
      std::string replacement;
      while (replacement.size() < kReplacementMost && IsPrintable(*p) && *p != ';') {
        replacement.push_back(static_cast<char>(*p++));
      }
      // A longer value would lose its tail to a line of its own: the
      // definition is refused and no source is left for the compiler.
      const unsigned char* rest = p;
      while (*rest == ' ') ++rest;
      if (IsPrintable(*rest) && *rest != ';') {
        out.Close();
        std::remove(kTempFile);
        char message[640];
        std::snprintf(message, sizeof message,
                      "Macro \"%s\" on line %u is longer than %u characters",
                      name.c_str(), static_cast<unsigned>(line_number + 1),
                      static_cast<unsigned>(kReplacementMost));
        Warn(message, "Download Error");
        return 1;
      }
      if (replacement.size() == kReplacementMost) p = rest;  // blanks past a full value
      if (!macros.emplace(name, replacement).second) {
        const std::string message = "Duplicate macro \"" + name + "\"";
        Warn(message.c_str(), "Download Error");
        return 1;
      }
    } else if (IsNameChar(c)) {
      std::string word;
      while (IsNameChar(*p)) word.push_back(Upper(*p++));
      const auto it = macros.find(word);
      const std::string& text_out = it != macros.end() ? it->second : word;
      if (!IsNull(text_out)) line += text_out;
    } else {
      line.push_back(static_cast<char>(c));
      ++p;
    }
  }
  return 0;
}
