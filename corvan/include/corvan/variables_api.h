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

#include <stdint.h>
#ifdef __cplusplus
#include <cstdint>  // std:: names for C++ includers
#else
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

// 1 and the value text (at most 39 characters) in `text`, which must hold 40
// bytes (W: 40 characters); 0, with `text` untouched, on failure.
int32_t ZimoGetVariableStrA(uint32_t device, char letter, char* text, uint32_t number);
int32_t ZimoGetVariableStrW(uint32_t device, char16_t letter, char16_t* text, uint32_t number);

int16_t ZimoGetVariable(uint32_t device, char letter, uint32_t number, int16_t default_value);
int16_t ZimoGetIVariable(uint32_t device, uint32_t number, int16_t default_value);
int32_t ZimoGetVariableLong(uint32_t device, char letter, uint32_t number, int32_t default_value);
int32_t ZimoGetIVariableLong(uint32_t device, uint32_t number, int32_t default_value);
double ZimoGetVariableDouble(uint32_t device, char letter, uint32_t number, double default_value);
double ZimoGetIVariableDouble(uint32_t device, uint32_t number, double default_value);

// Not recorded in the change ring.
void ZimoSetVariable(uint32_t device, char letter, uint32_t number, int16_t value);
void ZimoSetIVariable(uint32_t device, uint32_t number, int16_t value);
void ZimoSetVariableLong(uint32_t device, char letter, uint32_t number, int32_t value);
void ZimoSetIVariableLong(uint32_t device, uint32_t number, int32_t value);
// Written with six decimals ("I130=1.500000").
void ZimoSetVariableDouble(uint32_t device, char letter, uint32_t number, double value);
void ZimoSetIVariableDouble(uint32_t device, uint32_t number, double value);

#ifdef __cplusplus
}  // extern "C"
#endif
