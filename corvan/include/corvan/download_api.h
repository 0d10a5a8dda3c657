/* Corvan32's download reporting: the callbacks a program download reports
 * through, the error limit at which a download gives up, and the request to
 * stop a running download. */
#ifndef CORVAN_DOWNLOAD_API_H_
#define CORVAN_DOWNLOAD_API_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One report line; new_line is always 1. */
typedef int32_t (*DownloadMessageCallback)(const char* text, int32_t new_line);
/* Line `index` (0 for the first) of a program handed over line by line:
 * stores at most `size` characters and returns how many; 0 ends the text. */
typedef int32_t (*DownloadLineSourceCallback)(int32_t index, char* buffer, int32_t size);
/* Progress in percent, 0 to 100. */
typedef int32_t (*DownloadProgressCallback)(int32_t percent);
/* One card or compiler error: file name, error number, source line, text. */
typedef int32_t (*DownloadErrorCallback)(const char* file, int32_t error, uint32_t line,
                                         const char* text);

/* Sets the number of errors at which a download is aborted (10 at start);
 * returns it. */
uint32_t ZimoSetMaxDownloadErrors(uint32_t count);

/* Asks the running download to stop. The device number is not used. */
void ZimoAbortDownload(uint32_t device);

#ifdef __cplusplus
}
#endif

#endif /* CORVAN_DOWNLOAD_API_H_ */
