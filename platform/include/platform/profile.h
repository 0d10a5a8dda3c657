// Private-profile (INI) files with the Windows rules, so settings files
// written by either side read the same:
//  * A file name without a folder lives in the Windows directory
//    (WindowsDir()); other names go through the Windows-path helper
//    (drive letters, backslashes, names matched case-insensitively).
//  * Section and key names compare case-insensitively; blanks around names
//    and values are trimmed; a value wrapped in matching double or single
//    quotes is read without them.
//  * A missing file, section or key gives the default text (null = ""), with
//    its trailing blanks trimmed.
//  * Lines may end in LF or CR LF; files are written with CR LF. Lines that
//    are neither "[section]" nor "key=value" (and ';' comments) are skipped
//    when reading and kept as they are when writing.
//  * Texts are Windows-1252 bytes (A forms); W forms convert to and from
//    char16_t with the same counts.
//
// Buffer rules of GetPrivateProfileString/Section/SectionNames: the result is
// the number of characters placed, without the final terminator. A value
// that does not fit is cut to size - 1 characters and returns size - 1. A
// list (section names, key names, "key=value" lines; each item ends in NUL
// and the list in a second NUL) that does not fit is cut, ends in two NULs
// and returns size - 2. A size of 0 returns 0 and touches nothing.
//
// Writes lock the file against other writers (a lock file in RunDir()),
// change it in memory and replace it through a temporary file, so a reader
// never sees half a file. Texts that would break the file's structure (a line
// break anywhere, '=' in a key, ']' in a section name, a key or section that
// is empty or starts with '[' or ';') are refused with result 0 instead of
// being written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zimo::platform {

uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* default_text,
                                  char* buffer, uint32_t size, const char* file_name);
// The file read once, for code that reads many keys of one file in a row (a
// settings load): GetString answers exactly as GetPrivateProfileStringA did
// at construction, without reading the file again, so every key comes from
// the same state of the file even while another process writes it.
class ProfileReader {
 public:
  explicit ProfileReader(const char* file_name);
  uint32_t GetString(const char* section, const char* key, const char* default_text, char* buffer,
                     uint32_t size) const;

 private:
  std::vector<std::string> lines_;
};

uint32_t GetPrivateProfileStringW(const char16_t* section, const char16_t* key,
                                  const char16_t* default_text, char16_t* buffer, uint32_t size,
                                  const char16_t* file_name);

// The key's text as an integer: blanks skipped, an optional '-', then decimal
// digits (or hexadecimal after "0x"); parsing stops at the first other
// character; no digits give 0. A missing or empty key gives the default.
// Negative numbers come back as their two's complement, as on Windows.
uint32_t GetPrivateProfileIntA(const char* section, const char* key, int32_t default_value,
                               const char* file_name);
uint32_t GetPrivateProfileIntW(const char16_t* section, const char16_t* key, int32_t default_value,
                               const char16_t* file_name);

uint32_t GetPrivateProfileSectionNamesA(char* buffer, uint32_t size, const char* file_name);
uint32_t GetPrivateProfileSectionNamesW(char16_t* buffer, uint32_t size, const char16_t* file_name);

// "key=value" lines of the section (values trimmed, quotes kept).
uint32_t GetPrivateProfileSectionA(const char* section, char* buffer, uint32_t size,
                                   const char* file_name);
uint32_t GetPrivateProfileSectionW(const char16_t* section, char16_t* buffer, uint32_t size,
                                   const char16_t* file_name);

// Creates the file, section and key as needed; an existing key is replaced in
// place, a new key goes after the last entry of its section, a new section at
// the end of the file. A null value deletes the key, a null key deletes the
// section with all its lines, all three null only flushes (nothing is cached).
// Returns nonzero on success.
int WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                               const char* file_name);
int WritePrivateProfileStringW(const char16_t* section, const char16_t* key, const char16_t* value,
                               const char16_t* file_name);

// The file a profile name stands for (see above).
std::filesystem::path ProfilePath(std::string_view file_name);

}  // namespace zimo::platform
