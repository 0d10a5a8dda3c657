#include "nc/language/tokens.h"

#include "nc/language/nc_types.h"

namespace zimo::nc {

namespace {

struct ClassTable {
  uint8_t k[128] = {};
  constexpr ClassTable() {
    k[static_cast<int>('\t')] = kClassBlank;
    k[static_cast<int>('\r')] = kClassBlank;
    k[static_cast<int>(' ')] = kClassBlank;
    k[0] = kClassEnd;
    k[static_cast<int>('\n')] = kClassEnd;
    k[0x1A] = kClassEnd;
    k[static_cast<int>('%')] = kClassEnd;
    k[static_cast<int>(';')] = kClassEnd;
    for (int c = '0'; c <= '9'; ++c) k[c] = kClassDigit;
    k[static_cast<int>('.')] = kClassDigit;
    for (const char c : {'#', '(', '=', '[', ']'}) k[static_cast<int>(c)] = kClassSpecial;
    for (const char c : {'*', '+', '-', '/'}) k[static_cast<int>(c)] = kClassArithmetic;
    for (int c = 'A'; c <= 'Z'; ++c) k[c] = kClassLetter;
    for (int c = 'a'; c <= 'z'; ++c) k[c] = kClassLetter;
  }
};
constexpr ClassTable kClasses;

struct TokenRow {
  const char* text;
  uint8_t incoming;
  uint8_t in_stack;
};
constexpr TokenRow kTokens[kTokenCount] = {
    {"", 0, 0},      {"+", 2, 2},     {"-", 2, 2},     {"*", 3, 3},     {"/", 3, 3},
    {"[", 4, 0},     {"]", 4, 4},     {"+", 6, 6},     {"-", 6, 6},     {"EQ", 1, 1},
    {"NE", 1, 1},    {"GE", 1, 1},    {"GT", 1, 1},    {"LE", 1, 1},    {"LT", 1, 1},
    {"AND", 3, 3},   {"MOD", 3, 3},   {"OR", 2, 2},    {"XOR", 2, 2},   {"PCLOS", 7, 7},
    {"POPEN", 7, 7}, {"", 0, 0},      {"#", 7, 7},     {"ABS", 7, 7},   {"ACOS", 7, 7},
    {"ASIN", 7, 7},  {"ATAN", 7, 7},  {"COS", 7, 7},   {"EXP", 7, 7},   {"FIX", 7, 7},
    {"FUP", 7, 7},   {"LN", 7, 7},    {"ROUND", 7, 7}, {"SIN", 7, 7},   {"SQRT", 7, 7},
    {"TAN", 7, 7},   {"DPRNT", 7, 7}, {"", 7, 7},
};

constexpr const char* kKeywords[] = {"", "IF", "THEN", "WH", "WHILE", "", "GOTO", "DO", "END"};

}  // namespace

CharClass ClassOf(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 128 ? static_cast<CharClass>(kClasses.k[u]) : kClassOther;
}

const char* TokenText(int token) {
  return token >= 0 && token < kTokenCount ? kTokens[token].text : "";
}
int IncomingPrecedence(int token) {
  return token >= 0 && token < kTokenCount ? kTokens[token].incoming : 0;
}
int StackPrecedence(int token) {
  return token >= 0 && token < kTokenCount ? kTokens[token].in_stack : 0;
}

const char* KeywordText(int position) {
  return position > 0 && position <= kKeyEnd ? kKeywords[position] : "";
}

int AddressSlot(char c) {
  for (int i = 1; kAddressNames[i] != '\0'; ++i) {
    if (kAddressNames[i] == c) return i - 1;
  }
  return kSlotNone;
}

}  // namespace zimo::nc
