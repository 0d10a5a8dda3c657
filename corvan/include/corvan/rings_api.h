// Exported access to each device's two shared-table rings: unsolicited card
// lines (filled by the transports) and the log of commands that change card
// state. Return 1 on success; 0 if the table is unmapped, device >= 8, or the
// operation is rejected.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

int32_t StoreUSResponse(uint32_t device, const char* text, uint32_t length);
// Takes the next line (up to its CR, which is consumed) into `buffer`, which
// holds `limit` + 1 bytes.
int32_t GetUSResponse(uint32_t device, char* buffer, uint32_t limit);
int32_t USReadReady(uint32_t device);

int32_t ChangeStore(uint32_t device, const char* text);
int32_t ChangeGet(uint32_t device, char* buffer, uint32_t limit);
int32_t ChangeReadReady(uint32_t device);

#ifdef __cplusplus
}
#endif
