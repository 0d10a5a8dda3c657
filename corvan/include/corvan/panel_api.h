/* The card's control panel in its DPR: per coordinate system (numbered 1 to
 * 8 here) a request bit, action bits (jog minus, jog plus, jog return, run,
 * step, stop, home, hold), a feed-override value and its enable bit. While
 * the panel function is on, the card serves each system whose request bit
 * is set and then clears that bit. Every bit call is one raw DPR access (no
 * lock). A system outside 1 to 8 is refused: 0, and the DPR is not touched. */
#ifndef CORVAN_PANEL_API_H
#define CORVAN_PANEL_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* `on` 1 switches the panel function on ("i2=3"), anything else off
 * ("i2=1"). The result is the panel flag after the call; 0 for a device
 * that is none. */
int32_t ZimoDPRControlPanel(uint32_t device, int32_t on);

/* Setters: `value` 0 clears the bit, anything else sets it. Nonzero when
 * the DPR was written. Getters: the bit, 0 when it cannot be read. */
int32_t ZimoDPRSetJogNegBit(uint32_t device, int32_t cs, int32_t value);
int32_t ZimoDPRSetJogPosBit(uint32_t device, int32_t cs, int32_t value);
int32_t ZimoDPRSetJogReturnBit(uint32_t device, int32_t cs, int32_t value);
int32_t ZimoDPRSetRunBit(uint32_t device, int32_t cs, int32_t value);
int32_t ZimoDPRSetStepBit(uint32_t device, int32_t cs, int32_t value);
int32_t ZimoDPRSetStopBit(uint32_t device, int32_t cs, int32_t value);
int32_t ZimoDPRSetHomeBit(uint32_t device, int32_t cs, int32_t value);
int32_t ZimoDPRSetHoldBit(uint32_t device, int32_t cs, int32_t value);
int32_t ZimoDPRGetJogNegBit(uint32_t device, int32_t cs);
int32_t ZimoDPRGetJogPosBit(uint32_t device, int32_t cs);
int32_t ZimoDPRGetJogReturnBit(uint32_t device, int32_t cs);
int32_t ZimoDPRGetRunBit(uint32_t device, int32_t cs);
int32_t ZimoDPRGetStepBit(uint32_t device, int32_t cs);
int32_t ZimoDPRGetStopBit(uint32_t device, int32_t cs);
int32_t ZimoDPRGetHomeBit(uint32_t device, int32_t cs);
int32_t ZimoDPRGetHoldBit(uint32_t device, int32_t cs);
int32_t ZimoDPRSetRequestBit(uint32_t device, int32_t cs, int32_t value);
int32_t ZimoDPRGetRequestBit(uint32_t device, int32_t cs);
int32_t ZimoDPRSetFOEnableBit(uint32_t device, int32_t cs, int32_t value);
int32_t ZimoDPRGetFOEnableBit(uint32_t device, int32_t cs);
/* The feed-override value of system `cs` (a 16-bit word). */
void ZimoDPRSetFOValue(uint32_t device, int32_t cs, uint16_t value);
uint16_t ZimoDPRGetFOValue(uint32_t device, int32_t cs);

#ifdef __cplusplus
}
#endif

#endif /* CORVAN_PANEL_API_H */
