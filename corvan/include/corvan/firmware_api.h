/* Corvan32's firmware download: loads a firmware image file into a card
 * that waits in bootstrap mode, then checks that the card left it. */
#ifndef CORVAN_FIRMWARE_API_H_
#define CORVAN_FIRMWARE_API_H_

#include <stdint.h>

#include "corvan/download_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Loads the image at `path` (groups of three bytes, each one card word, high
 * byte first) into the card of `device`, over the serial line, the bus port
 * registers or the Ethernet firmware requests as the device's Location
 * requires. Messages go to `message` and progress to `progress` when given.
 * 1 when the run ended without an error, else 0 (also when another download
 * is running in this process). */
int32_t ZimoDownloadFirmwareFile(uint32_t device, DownloadMessageCallback message,
                                 DownloadProgressCallback progress, const char* path);

#ifdef __cplusplus
}
#endif

#endif /* CORVAN_FIRMWARE_API_H_ */
