// Exports over the two rings of each device in the shared device table: the
// lines cards sent unasked (stored by the transports) and the record of
// state-changing commands. Results: 1 done, 0 when the table is not mapped,
// the device is 8 or above, or the request is refused.
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
