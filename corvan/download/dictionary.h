// The definitions a macro pass collects, ordered by name (byte-wise), and
// the two files written from them: the MAP listing for people and the
// "name=value" dictionary that can be read back.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "corvan/download_api.h"

// The dictionary behind the opaque handle of the exports.
struct DefineDictionary {
  struct Entry {
    std::uint32_t number = 0;  // when the name was first defined
    std::string value;
  };
  std::map<std::string, Entry> entries;  // std::string compares byte-wise
};

namespace zimo::corvan {

// Writes the MAP file of `dictionary` to `map_path` (host or Windows form);
// reports "Unable to open map file: %s" and returns false when it cannot be
// created.
bool WriteMapFile(const DefineDictionary& dictionary, const char* map_path,
                  const char* source_path);

// The dictionary file: one "name=value" line per definition in name order.
bool WriteDictionaryFile(const DefineDictionary& dictionary, const char* path);
// Reads "name=value" lines into `dictionary` (names cut to 31 characters,
// values to 127); a name read again takes the new value.
bool ReadDictionaryFile(DefineDictionary& dictionary, const char* path);

}  // namespace zimo::corvan
