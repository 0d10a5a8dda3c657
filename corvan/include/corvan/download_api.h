/* Corvan32's download reporting: the callbacks a program download reports
 * through, the error limit at which a download gives up, and the request to
 * stop a running download. */
#ifndef CORVAN_DOWNLOAD_API_H_
#define CORVAN_DOWNLOAD_API_H_

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

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

/* Runs the download pipeline on `source` for `device` in the caller's
 * thread: macro pass, PLC compilation when the card's link list is known,
 * sending, MAP and dictionary files, log. 1 when the run ended without an
 * error, else 0; 0 at once while another download runs. */
int32_t ZimoDownloadA(uint32_t device, DownloadMessageCallback message,
                      DownloadLineSourceCallback line_source, DownloadProgressCallback progress,
                      const char* source, int32_t macro, int32_t map, int32_t log,
                      int32_t download);
int32_t ZimoDownloadW(uint32_t device, DownloadMessageCallback message,
                      DownloadLineSourceCallback line_source, DownloadProgressCallback progress,
                      const char16_t* source, int32_t macro, int32_t map, int32_t log,
                      int32_t download);
/* The same on a worker thread (the callbacks run on it): 1 when the worker
 * was started; 0 when the source is missing or another download runs. */
int32_t ZimoThreadDownloadA(uint32_t device, DownloadMessageCallback message,
                            DownloadLineSourceCallback line_source,
                            DownloadProgressCallback progress, const char* source, int32_t macro,
                            int32_t map, int32_t log, int32_t download);
int32_t ZimoThreadDownloadW(uint32_t device, DownloadMessageCallback message,
                            DownloadLineSourceCallback line_source,
                            DownloadProgressCallback progress, const char16_t* source,
                            int32_t macro, int32_t map, int32_t log, int32_t download);
/* Compiles the PLC programs of `input` into `output` for the card of
 * `device`: 1 on success, else 0 (reported). */
int32_t ZimoCompilePLCC(uint32_t device, const char* output, const char* input);
/* Sends a prepared program file to the card, reporting card errors. */
void ZimoDownloadFile(uint32_t device, const char* path);
/* Shows the progress dialog over a threaded download: the result of the
 * threaded start; returns when the dialog closes. */
int32_t ZimoDownloadProgress(int32_t checksum_mode, int32_t stay_open, void* parent,
                             uint32_t device, const char* source, int32_t macro, int32_t map,
                             int32_t log, int32_t download);

/* Definition dictionaries ("name=value" files). A root is the address of a
 * dictionary handle; a null handle starts a new dictionary. */
typedef struct DefineDictionary DefineDictionary;
/* 1 when written, 0 when the file cannot be created. */
int32_t WriteDictionary(const char* path, DefineDictionary** root);
/* Reads (and merges) a dictionary file: 1 when read, 0 when it cannot be
 * opened. */
int32_t ReadDictionary(const char* path, DefineDictionary** root);
/* Frees a dictionary made by ReadDictionary and clears the handle. */
void FreeDictionary(DefineDictionary** root);

/* Download lists kept per user in an INI file (WIN.INI when empty). */
int32_t ZimoAddDownloadFileA(uint32_t device, const char* ini_file, char* user_id, char* file);
int32_t ZimoAddDownloadFileW(uint32_t device, const char16_t* ini_file, const char16_t* user_id,
                             const char16_t* file);
int32_t ZimoRemoveDownloadFileA(uint32_t device, const char* ini_file, char* user_id, char* file);
int32_t ZimoRemoveDownloadFileW(uint32_t device, const char16_t* ini_file, const char16_t* user_id,
                                const char16_t* file);
int32_t ZimoRenumberFilesA(uint32_t device, int32_t key, const char* ini_file);
int32_t ZimoRenumberFilesW(uint32_t device, int32_t key, const char16_t* ini_file);
/* Downloads every listed file of `user_id` (all users when null) through
 * an include file; 0 when none is listed. */
int32_t ZimoMultiDownloadA(uint32_t device, DownloadMessageCallback message,
                           const char* include_file, const char* ini_file, char* user_id,
                           int32_t macro, int32_t map, int32_t log, int32_t download);
int32_t ZimoMultiDownloadW(uint32_t device, DownloadMessageCallback message,
                           const char16_t* include_file, const char16_t* ini_file,
                           const char16_t* user_id, int32_t macro, int32_t map, int32_t log,
                           int32_t download);

#ifdef __cplusplus
}
#endif

#endif /* CORVAN_DOWNLOAD_API_H_ */
