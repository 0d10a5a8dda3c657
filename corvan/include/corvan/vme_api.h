// The VME transport's one export: a test that opens a card on the VME bus
// with fixed parameters (mailbox at 0x7FA000, DPR at 0x700000, interrupt
// level 7, vectors 160 and 161), checks that it answers, maps its DPR window
// and closes again. Needs the VME bus manager library ("VMEMGR.dll").
#pragma once

#include <stdint.h>
#ifdef __cplusplus
#include <cstdint>  // std:: names for C++ includers
#endif

#ifdef __cplusplus
extern "C" {
#endif

// 1 when a card answered; 0 when the bus manager is missing or failed (its
// message box says why) or no card answered.
int32_t VMETestOpenZimoDevice(void);

#ifdef __cplusplus
}  // extern "C"
#endif
