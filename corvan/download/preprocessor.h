// The macro pass of a program download: reads the card program (from its
// file or line by line from the caller) with the files it includes, drops
// comments, evaluates #ifdef/#ifndef/#else/#endif, records #define values
// and replaces the defined names, expands the @ macros for PLC bit and
// timer idioms, and writes each line that still holds text, tagged with its
// own line number, to the output file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "download/dictionary.h"

namespace zimo::corvan {

// Longest processed line, terminator included: the card's 255 characters.
inline constexpr std::size_t kParseBufferSize = 256;
// Include levels: the main text and nine nested files.
inline constexpr int kIncludeLevels = 10;
// Conditional depths.
inline constexpr int kConditionalDepths = 10;
// How deep defined names may expand into other defined names.
inline constexpr int kMaxExpansionDepth = 16;

class MacroPreprocessor {
 public:
  MacroPreprocessor() = default;
  ~MacroPreprocessor();
  MacroPreprocessor(const MacroPreprocessor&) = delete;
  MacroPreprocessor& operator=(const MacroPreprocessor&) = delete;

  // One pass from `source` (full path; with a line-source callback only its
  // name) to `output`. False when the main source or the output cannot be
  // opened (both reported).
  bool Run(int device, const std::string& source, const std::string& output);

  // Enters or replaces a definition, warning when the value changes.
  void DefineMacro(const std::string& name, const std::string& value);
  const DefineDictionary::Entry* FindDefinition(const std::string& name) const;

  DefineDictionary& dictionary() { return dictionary_; }
  void ClearDictionary() { dictionary_.entries.clear(); }

  // One line through the preprocessor (at most size - 1 characters out).
  // True when it left text. Exposed for the tests of the line rules.
  bool PreprocessLine(const char* input, std::string* output, std::size_t size);

 private:
  struct Level {
    std::FILE* file = nullptr;
    std::string path;
    std::uint32_t line = 0;
    long length = 0;
  };

  bool PreprocessText(const char* input, std::string* output, std::size_t size, int expansion);
  void DefineCardSymbols(int device);
  bool ReadSourceLine(std::string* line);
  bool PushIncludeFile(const std::string& name);
  void PopIncludeFile();
  // Expands the @ macro at `*pos` (after '@'); false when '@' is to be
  // written as it stands. *pos moves past what was consumed.
  bool ExpandBuiltinMacro(const char* input, std::size_t* pos, std::string* expansion,
                          int expansion_depth);
  bool Directive(const char* input, std::size_t* pos);
  bool DirectiveInSkippedRegion(const char* input, std::size_t* pos);
  bool Active() const { return depth_ == 0 || active_[depth_]; }
  std::uint32_t CurrentLine() const;
  void Error(const char* text);

  DefineDictionary dictionary_;
  std::vector<Level> levels_;  // levels_.size() - 1 is the current level
  std::string main_source_;
  bool from_callback_ = false;
  bool in_comment_ = false;
  int depth_ = 0;
  bool active_[kConditionalDepths] = {};
  bool overflow_ = false;  // the current line was cut
};

// The preprocessor of the current download (its dictionary lives on for the
// map and dictionary stages).
MacroPreprocessor& DownloadPreprocessor();

}  // namespace zimo::corvan
