// Whole-device calls: Location/Enumeration lookup and the device-number to
// location mapping, choice of ASCII channel on bus cards, driver service
// load/unload, and selection of the language module for library texts.
#pragma once

#include <stdint.h>
#ifdef __cplusplus
#include <cstdint>  // std:: names for C++ includers
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Location code / Enumeration from the device's shared record; 0 if the
// shared table is not mapped or device > 7.
uint32_t ZimoGetLocation(uint32_t device);
uint32_t ZimoGetEnumeration(uint32_t device);

// The lowest device number 0 to 7 registered with this Location and
// Enumeration, or -1.
int32_t MapDeviceNumToEnumAndLocation(uint32_t location, uint32_t enumeration);
// 1 with the device's registered Location (1 to 5) and Enumeration in the
// out arguments; 0 when the device has no key or no valid Location (the out
// arguments are then left alone). Creates nothing.
int32_t MapLocAndEnumFromDeviceNum(uint32_t device, uint32_t* location, uint32_t* enumeration);

// The device's ASCII channel: 0 bus port, 1 DPR mailbox (Ethernet and USB
// devices always 0). Also makes it this process's channel, so a switch made
// by another process takes effect here.
int32_t ZimoGetAsciiComm(uint32_t device);
// Switches the channel for every process: 1 done (also when it was already
// so), 0 refused (a mailbox for a serial, Ethernet or USB device, DPR not
// usable, or a mode other than 0 and 1). The current channel is flushed
// first, under the device lock.
int32_t ZimoSetAsciiComm(uint32_t device, int32_t mode);

// The device's driver service: start, stop, delete, and whether it runs.
// A failed start or stop shows the reason in a "Driver Error" box and
// returns 0.
int32_t ZimoLoadNTDriver(uint32_t device);
int32_t ZimoUnloadNTDriver(uint32_t device);
// As DrvRemoveDriver.
int32_t ZimoRemoveNTDriver(uint32_t device);
int32_t ZimoNTDriverLoaded(uint32_t device);

// 1: the library carries the NC functions.
int32_t ZimoNcAvailable(void);

// Language modules. A module handle is the loader's handle of a shared
// library; the language module slot is this process's own.
//
// SetLanguageModule: with a language other than "C", looks for the
// satellite beside `default_module`'s file, named as that file with its
// extension replaced by the language's first three characters
// (libcorvan32.so with "German" gives libcorvan32.Ger); when it exists and
// the C run-time locale can be set to the language, loads it into *slot
// (freeing a satellite loaded before) and returns 1. Otherwise, and for no
// language or "C" (which sets the "C" locale and returns 1), the slot gets
// `default_module`. A null slot, or one that holds null, changes nothing
// and returns 0.
int32_t SetLanguageModule(const char* language, void* default_module, void** slot);
// Changes the library's text language (falling back to the library module
// itself) and saves it as the device's "Language" value, or "English" if the
// change did not succeed. Returns 1 on success.
int32_t ZimoSetLanguage(uint32_t device, const char* language);
// Stores this process's language module handle into *handle and returns
// handle.
void** ZimoLMH(void** handle);

#ifdef __cplusplus
}  // extern "C"
#endif
