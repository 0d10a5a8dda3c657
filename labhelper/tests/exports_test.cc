// libqeldll32.so shows its 44 C functions and nothing else.
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/module.h"

namespace {

const std::set<std::string> kExports = {
#include "exported_names.inc"
};

// Names of the defined global and weak symbols in the library's dynamic
// symbol table.
std::set<std::string> DefinedDynamicSymbols(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<char> image((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
  std::set<std::string> names;
  if (image.size() < sizeof(Elf64_Ehdr)) return names;
  Elf64_Ehdr header;
  std::memcpy(&header, image.data(), sizeof header);
  for (int i = 0; i < header.e_shnum; ++i) {
    Elf64_Shdr section;
    std::memcpy(&section, image.data() + header.e_shoff + i * sizeof section, sizeof section);
    if (section.sh_type != SHT_DYNSYM) continue;
    Elf64_Shdr strings;
    std::memcpy(&strings, image.data() + header.e_shoff + section.sh_link * sizeof strings,
                sizeof strings);
    for (size_t s = 1; s < section.sh_size / sizeof(Elf64_Sym); ++s) {
      Elf64_Sym symbol;
      std::memcpy(&symbol, image.data() + section.sh_offset + s * sizeof symbol, sizeof symbol);
      const int binding = ELF64_ST_BIND(symbol.st_info);
      if (symbol.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK)) continue;
      names.insert(image.data() + strings.sh_offset + symbol.st_name);
    }
  }
  return names;
}

TEST(ExportsTest, OnlyTheCFunctionsAreVisible) {
  ASSERT_EQ(kExports.size(), 44u);
  EXPECT_EQ(DefinedDynamicSymbols(LABHELPER_LIBRARY), kExports);
}

TEST(ExportsTest, LoadedLibraryAnswers) {
  auto library = zimo::platform::Module::Load(LABHELPER_LIBRARY);
  ASSERT_TRUE(library.ok()) << library.status().ToString();
  auto hex_long = library->Function<int32_t(const char*)>("hex_long");
  ASSERT_TRUE(hex_long.ok()) << hex_long.status().ToString();
  EXPECT_EQ((*hex_long)("00000A"), 10);
  EXPECT_EQ(library->Symbol("_ZN4zimo9labhelper4BeepEj").status().code(),
            zimo::platform::Code::kNotFound);
}

}  // namespace
