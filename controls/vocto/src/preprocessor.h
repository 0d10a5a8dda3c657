// The Vocto download's own preprocessor. It reads a card program with its
// included files, remembers #define names and replaces them word by word,
// keeps or skips text between #ifdef/#ifndef, #else and #endif, drops
// comments and expands the "@" macros for bits and timers. Output goes next to
// the source ("<source>.out", "<source>.map"); warnings and errors go to
// "errors.txt" in the working folder. Anything a dialog would show is handed
// to the caller's Hooks, so the class needs no window system.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/text_file.h"

namespace zimo::vocto {

// Options of DownloadFile.
inline constexpr int32_t kDownloadPreprocessOnly = 0x01;
inline constexpr int32_t kDownloadNoWindow = 0x02;
inline constexpr int32_t kDownloadOfferErrors = 0x04;
inline constexpr int32_t kDownloadDeleteClean = 0x08;
inline constexpr int32_t kDownloadAbortOnError = 0x10;

// The macros by name and by definition (both in byte order); the first
// definition of a name stays.
class MacroStore {
 public:
  // False (and nothing changes) when the name is defined already.
  bool Define(const std::string& name, const std::string& definition, const std::string& file);
  const std::string* Find(const std::string& name) const;
  size_t size() const { return by_name_.size(); }

  struct Macro {
    std::string name;
    std::string definition;
    std::string file;
  };
  std::vector<Macro> SortedByName() const;
  std::vector<Macro> SortedByDefinition() const;

 private:
  std::map<std::string, Macro> by_name_;
  std::multimap<std::string, std::string> by_definition_;  // definition -> name
};

struct Counts {
  long lines = 0;
  long warnings = 0;
  long errors = 0;
};

class Preprocessor {
 public:
  struct Hooks {
    std::function<void()> beep;
    std::function<void()> process_messages;
    // The file being preprocessed now (shown as "PREPROCESSING:").
    std::function<void(const std::string& path)> show_file;
    // The counts changed (every tenth line, and on warnings and errors).
    std::function<void()> counts_changed;
  };

  // `abort` is the run's abort flag: Cancel sets it, errors set it with
  // kDownloadAbortOnError, and a set flag ends the reading.
  Preprocessor(int32_t options, bool* abort, Hooks hooks);

  enum class OpenResult { kOk, kOutputFailed, kErrorFileFailed };
  // Creates "<source>.out" and "errors.txt".
  OpenResult Open(const std::string& source);
  // Preprocesses the source as the main file, then writes the "Now
  // downloading" lines.
  void Run();
  // Creates the MAP file and writes it (only when a macro exists); false
  // when it cannot be created.
  bool WriteMap();
  // Closes the output file (the download reads it back).
  void CloseOutput();
  // A card error during the download, into the error file and the counts.
  void CardError(const std::string& reference, const std::string& sent,
                 const std::string& description);
  // The error file's trailer when anything was reported; closes the files;
  // removes an empty MAP file and an empty error file.
  void Finish();

  const std::string& source() const { return source_; }
  const std::string& output_path() const { return output_path_; }
  const std::string& map_path() const { return map_path_; }
  static constexpr const char* kErrorFile = "errors.txt";

  const Counts& total() const { return total_; }
  const Counts& file() const { return file_; }
  const MacroStore& macros() const { return macros_; }

 private:
  struct FileState {
    std::string path;
    long line_number = 0;
    bool block_comment = false;
    bool in_string = false;
    bool skip = false;
    int nesting = 0;
  };
  void ProcessFile(const std::string& path, bool include);
  // Scans one line (with its line end); true when it is written out.
  void ScanLine(FileState& fs, std::string& line);
  bool Directive(FileState& fs, std::string& line, size_t at);
  // Expands an "@" macro at `at`; false when the line ended with an error.
  enum class AtResult { kNotAMacro, kExpanded, kError };
  AtResult AtMacro(FileState& fs, std::string& line, size_t at);
  std::string Substitute(FileState& fs, const std::string& word, const std::string& line);
  void Warning(FileState& fs, int index, const std::string& line);
  void Error(FileState& fs, int index, const std::string& line);
  void Report(const char* kind, FileState& fs, const std::string& line, const char* description);
  void Beep();
  void Pump();

  int32_t options_;
  bool* abort_;
  Hooks hooks_;
  std::string source_, output_path_, map_path_;
  platform::TextFileWriter out_, err_, map_;
  MacroStore macros_;
  std::set<std::string> processed_;
  Counts total_, file_;
  bool map_written_ = false;
};

}  // namespace zimo::vocto
