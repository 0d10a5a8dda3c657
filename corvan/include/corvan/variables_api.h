// Corvan32's card variable exports: read one I, P, Q or M variable as text,
// 16-bit or 32-bit integer or double, and write one from those. Each access
// is one ASCII exchange with the card through the command API ("P1"
// answered by the value, "P1=5" to assign).
//
// Queries ask up to five times until the card answers; a card that gives no
// answer, or answers with an error, makes a getter return the caller's
// default. A value text starting with '$' is hexadecimal; other texts read
// in the C conventions of automatic base (leading "0x" hexadecimal, leading
// 0 octal) for the integer getters and as decimal numbers for the double
// getters. Setters report nothing; all but ZimoSetVariable also record the
// assignment in the device's change ring so that other processes see it.
//
// The letter is one character ('I', 'P', 'Q', 'M'), the number unsigned.
#pragma once

#include <cstdint>

extern "C" {

// 1 and the value text (at most 39 characters) in `text`, which must hold 40
// bytes (W: 40 characters); 0, with `text` untouched, on failure.
std::int32_t ZimoGetVariableStrA(std::uint32_t device, char letter, char* text,
                                 std::uint32_t number);
std::int32_t ZimoGetVariableStrW(std::uint32_t device, char16_t letter, char16_t* text,
                                 std::uint32_t number);

std::int16_t ZimoGetVariable(std::uint32_t device, char letter, std::uint32_t number,
                             std::int16_t default_value);
std::int16_t ZimoGetIVariable(std::uint32_t device, std::uint32_t number,
                              std::int16_t default_value);
std::int32_t ZimoGetVariableLong(std::uint32_t device, char letter, std::uint32_t number,
                                 std::int32_t default_value);
std::int32_t ZimoGetIVariableLong(std::uint32_t device, std::uint32_t number,
                                  std::int32_t default_value);
double ZimoGetVariableDouble(std::uint32_t device, char letter, std::uint32_t number,
                             double default_value);
double ZimoGetIVariableDouble(std::uint32_t device, std::uint32_t number, double default_value);

// Not recorded in the change ring.
void ZimoSetVariable(std::uint32_t device, char letter, std::uint32_t number, std::int16_t value);
void ZimoSetIVariable(std::uint32_t device, std::uint32_t number, std::int16_t value);
void ZimoSetVariableLong(std::uint32_t device, char letter, std::uint32_t number,
                         std::int32_t value);
void ZimoSetIVariableLong(std::uint32_t device, std::uint32_t number, std::int32_t value);
// Written with six decimals ("I130=1.500000").
void ZimoSetVariableDouble(std::uint32_t device, char letter, std::uint32_t number, double value);
void ZimoSetIVariableDouble(std::uint32_t device, std::uint32_t number, double value);

}  // extern "C"
