// Paths of a program download: callers name files the Windows way or the
// host way; files are opened through the platform's path helper so that
// upper-cased names still find their files.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace zimo::corvan {

inline constexpr std::size_t kReportTextSize = 600;
inline constexpr std::size_t kDownloadPathMax = 260;

// The host path of a Windows-1252 Windows or host path.
std::string HostFilePath(const char* path);
// fopen through HostFilePath; null when `path` is null.
std::FILE* OpenHostFile(const char* path, const char* mode);
bool HostFileExists(const char* path);

// Why a source file cannot be used: 0 usable, else the report text's form.
enum class SourceProblem { kNone, kNotFound, kAccessDenied, kOther };

// The full path of `path` in the caller's form (Windows paths stay Windows
// paths, host paths become absolute); empty when it cannot be made or would
// pass 260 characters.
std::string FullDownloadPath(const char* path, SourceProblem* problem);

// The longest command line the card takes, line end not counted.
inline constexpr std::size_t kCardLineMax = 255;

// One whole line of `f`, its line end included as written; false at the end
// of the file. Lines are never cut, whatever their length.
bool ReadWholeLine(std::FILE* f, std::string* line);
// Characters of `line` before its line end (CR, LF).
std::size_t LineTextLength(const std::string& line);

// The path beside `full` with the same drive, folder and base name and the
// extension `ext` (without the dot).
std::string SiblingPath(const std::string& full, const char* ext);

}  // namespace zimo::corvan
