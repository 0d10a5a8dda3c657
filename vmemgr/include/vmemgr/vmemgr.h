// The VME bus manager's entry points as the stand-in library provides them,
// and the stand-in's own hooks for tests. Every entry point returns 0 on
// success or an error code; the first argument is reserved (0).
//
// The stand-in's windows are memory of the calling process. A simulated card
// sits on the bus with its 512-byte mailbox at VME address 0x7FA000 and its
// DPR at 0x700000, interrupt level 7, vectors 160 (a chunk was taken) and
// 161 (a reply chunk waits). While a mailbox window is locked at its
// address, the card takes command chunks from it and answers them.
#pragma once

#include <stdint.h>

#define VMEMGR_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t (*vmeInterruptHandler)(int32_t level, int32_t vector);

// Error codes of the stand-in.
#define VMEMGR_ERROR_NOT_INITIALISED 0x2001
#define VMEMGR_ERROR_BAD_WINDOW 0x2002
#define VMEMGR_ERROR_BAD_ARGUMENT 0x2003
// What a platform without window locking answers.
#define VMEMGR_ERROR_LOCK_NOT_IMPLEMENTED 120

VMEMGR_EXPORT int32_t vmeInit(int32_t reserved, int32_t options);
VMEMGR_EXPORT int32_t vmeTerm(int32_t reserved);
// `handler` null removes the handler of (level, vector).
VMEMGR_EXPORT int32_t vmeInstallInterruptHandler(int32_t reserved, int32_t level, int32_t vector,
                                                 vmeInterruptHandler handler);
// Window kinds: 1 mailbox, 2 DPR. Arguments 6 to 10 are taken as given.
VMEMGR_EXPORT int32_t vmeLockVmeWindow(int32_t reserved, int32_t kind, uint32_t vme_address,
                                       uint32_t* window, uint32_t size, int32_t arg6,
                                       int32_t arg7, int32_t arg8, int32_t arg9, int32_t arg10);
VMEMGR_EXPORT int32_t vmeGetVmeWindowAdr(int32_t reserved, uint32_t window, void** address);
VMEMGR_EXPORT int32_t vmeFreeVmeWindowAdr(int32_t reserved, uint32_t window, void* address);
VMEMGR_EXPORT int32_t vmeUnlockVmeWindow(int32_t reserved, uint32_t window);

// --- Hooks of the stand-in, for tests ---------------------------------------

// The next call of the named entry point fails with `code` (0 clears).
VMEMGR_EXPORT void vmemgrSimSetFault(const char* entry_point, int32_t code);
// A muted card takes chunks but answers nothing.
VMEMGR_EXPORT void vmemgrSimSetMuted(int32_t muted);
// The command chunks the card took, in order, each followed by '\n'. Copies
// at most size - 1 bytes and a terminator; returns the full length.
VMEMGR_EXPORT uint32_t vmemgrSimChunks(char* buffer, uint32_t size);
// Forgets the chunk log and the faults.
VMEMGR_EXPORT void vmemgrSimReset(void);

#ifdef __cplusplus
}  // extern "C"
#endif
