/* Program and PLC status: the card's program tables, read with memory
 * commands under the command lock. */
#ifndef CORVAN_PROGRAM_INFO_API_H
#define CORVAN_PROGRAM_INFO_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One interpreted PLC program. */
typedef struct ZimoPlcProgramStatus {
  uint32_t running; /* 1 or 0 */
  uint32_t start;
  uint32_t end;  /* its last word */
  uint32_t size; /* in words */
} ZimoPlcProgramStatus;

/* One compiled PLC. */
typedef struct ZimoPlccProgramStatus {
  uint32_t present; /* 1 or 0 */
  uint32_t enabled; /* 1 or 0 */
  uint32_t start;
  uint32_t end;
  uint32_t size;
} ZimoPlccProgramStatus;

/* 291 32-bit words, 1164 bytes. */
typedef struct ZimoPlcStatus {
  uint32_t plc_count;   /* PLC programs found (0..32) */
  uint32_t plcc_count;  /* compiled PLCs found (0..32) */
  uint32_t enable_bits; /* bit 0: PLC 0 may run; bit 1: PLCs 1 to 31 */
  ZimoPlcProgramStatus plc[32];
  ZimoPlccProgramStatus plcc[32];
} ZimoPlcStatus;

/* The address range of motion program `number` (0-255) or, with `plc` set,
 * of PLC `number` (0-31): 1 when the program is present (its start and end
 * differ), else 0. *start and *end are written when the table was read. */
int32_t ZimoGetProgramInfo(uint32_t device, int32_t plc, int32_t number, uint32_t* start,
                           uint32_t* end);
/* Zeroes and fills the record; returns how many PLCs (interpreted and
 * compiled) it found. 0 when the first table read fails, with a box showing
 * the device's error text if there is one. */
int16_t ZimoGetPlcStatus(uint32_t device, ZimoPlcStatus* status);
/* 1 when a PLC program runs or a compiled PLC is enabled, else 0. */
int32_t ZimoIsAnyPLCRunning(uint32_t device);

#ifdef __cplusplus
}
#endif

#endif /* CORVAN_PROGRAM_INFO_API_H */
