/* Data gathering: the card records chosen memory words ("sources") every
 * few servo cycles into its gather buffer; the host picks the sources, the
 * period and the buffer, starts and stops the recording, uploads the
 * samples as doubles and keeps them in gather files.
 *
 * Older cards (card types 1-3) have 24 sources, set in I21 + n, enabled by
 * bit n of I20, with the period in I19. Every other card has 48, set in
 * I5001 + n, enabled by I5050 (sources 0-23) and I5051 (24-47), with the
 * period in I5049. The gather settings live in the device's shared record,
 * so every process using the device sees them; the uploaded samples belong
 * to the process that uploaded them (or read them from a file).
 *
 * A source address text is a type letter (Y, X, D, DP, F, L in either
 * case), an optional ':', an optional '$' (hexadecimal; without it "0x"
 * means hexadecimal, a leading 0 octal, else decimal) and the address:
 * "X:$3D", "d$28", "DP:$1000". X and Y sources are one 24-bit word, the
 * others an X:Y pair.
 *
 * All functions take the device number first and hold the device's command
 * lock for their whole run, except ZimoGetGatherMode, ZimoStartGather and
 * ZimoStopGather, whose single exchanges lock on their own. */
#ifndef CORVAN_GATHER_API_H
#define CORVAN_GATHER_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Sets source n from an address text, enabled or not: 0 when done (or n is
 * not one of the card's sources: nothing happens), 1 when the text names no
 * type (the source is cleared and disabled). */
int32_t ZimoSetGather(uint32_t device, uint32_t n, const char* address, int32_t enable);
/* Rebuilds source n's text from the card's setting ("D:$28"), keeps it as
 * the source's name and copies it, terminated, into `text` (at most size - 1
 * characters). 1, or 0 when n is not one of the card's sources. */
int32_t ZimoGetGather(uint32_t device, uint32_t n, char* text, uint32_t size);
/* Switches source n's enable bit on the card: 1 when n is one of the card's
 * sources, else 0. */
int32_t ZimoSetGatherEnable(uint32_t device, uint32_t n, int32_t on);
/* Source n's enable bit as the card has it (0 for numbers beyond the card's). */
int32_t ZimoGetGatherEnable(uint32_t device, uint32_t n);
/* Reads the enable bits and counts the enabled sources (and the 24-bit
 * words per sample, rounded up to even, kept in the settings). */
uint32_t ZimoGetNumGatherSources(uint32_t device);
/* Samples in the card's buffer, from its start and end pointers; 0 when no
 * source is enabled or the pointers do not describe a run of samples. */
uint32_t ZimoGetNumGatherSamples(uint32_t device);

/* Period in servo cycles, and the time between samples in milliseconds
 * (period x servo time of I10 / 8388608). Setting the sample time sets the
 * period it truncates to and returns the resulting sample time; a
 * negative or undefined time, or a card whose servo time is unknown (I10
 * 0), leaves the period as it is and returns the current sample time. */
uint32_t ZimoGetGatherPeriod(uint32_t device);
uint32_t ZimoSetGatherPeriod(uint32_t device, uint32_t period);
double ZimoGetGatherSampleTime(uint32_t device);
double ZimoSetGatherSampleTime(uint32_t device, double milliseconds);
/* Buffer mode I45 (bit 0 wrap, bit 1 buffer in DPR). Set: 1 when the card
 * reads back what was set. */
int32_t ZimoGetGatherMode(uint32_t device);
int32_t ZimoSetGatherMode(uint32_t device, int32_t mode);

/* Frees this process's samples and clears every source on the card. */
void ZimoClearGather(uint32_t device);
/* Frees this process's samples of the device. */
void ZimoClearGatherData(uint32_t device);

/* Prepares a gather: stops the DPR real-time buffer (I48=0), defines the
 * card's buffer (`size` words; 0: as big as the card makes it), sets the
 * sample time or the period, the enable bits, and (ZimoInitGather only)
 * every source again from the settings. 1. */
int32_t ZimoInitGather(uint32_t device, int32_t size, double milliseconds);
int32_t ZimoInitPlotGather(uint32_t device, int32_t size, uint32_t period);
/* Start ("gatgat") and stop ("endgat") the recording. 1. */
int32_t ZimoStartGather(uint32_t device);
int32_t ZimoStopGather(uint32_t device);

/* Uploads the card's samples into one array of doubles per enabled source.
 * 1 with the counts when samples came whole; 0 when there are none, the
 * listing held fewer than the pointers promised (the arrays then hold
 * zeros), or no memory could be had for the upload (a "PC Memory Error"
 * box says so). */
int32_t ZimoCollectGatherData(uint32_t device, uint32_t* sources, uint32_t* samples);
/* Copies up to `maximum` uploaded samples of source n into `out` and their
 * number into *count: 1, or 0 when source n has no samples here. */
int32_t ZimoGetGatherSamples(uint32_t device, uint32_t n, uint32_t* count, double* out,
                             uint32_t maximum);
/* One uploaded sample: 1, or 0 with *value 0.0 when there is none. */
int32_t ZimoGetGatherPoint(uint32_t device, uint32_t n, uint32_t index, double* value);

/* Presets of standard motor signals. Older cards: bit b of the mask picks
 * kind b / 8 of motor b % 8 (commanded position, actual position, output,
 * current); SPRAN cards (the Ex forms): one mask per kind, bit m for motor m.
 * Sources are cleared first and then given in order. The direct-current
 * forms gather the current's Y word. Each form passes the other
 * generation's card to its twin. 1. */
int32_t ZimoSetQuickGather(uint32_t device, uint32_t mask, int32_t enable);
int32_t ZimoSetQuickGatherEx(uint32_t device, uint32_t mask0, uint32_t mask1, uint32_t mask2,
                             uint32_t mask3, int32_t enable);
int32_t ZimoSetQuickGatherWithDirectCurrent(uint32_t device, uint32_t mask, int32_t enable);
int32_t ZimoSetQuickGatherWithDirectCurrentEx(uint32_t device, uint32_t mask0, uint32_t mask1,
                                              uint32_t mask2, uint32_t mask3, int32_t enable);

/* The real-time gather family: up to three card addresses (kept in the
 * device's shared record) read through the device's variable background
 * user, whose handle the record keeps, into this process's result array.
 * Init does nothing (0). Clear removes the user and forgets the addresses.
 * Add removes the user and keeps one more address while fewer than three
 * are kept (0). Collect reads each kept address's entry (the first 32-bit
 * word, as a double; 0.0 when the card has not refreshed it within 4000
 * reads) and returns the result array's address, or 0 while this process
 * has no result array. */
int32_t ZimoInitRTGather(uint32_t device);
void ZimoClearRTGather(uint32_t device);
int32_t ZimoAddRTGather(uint32_t device, uint32_t address);
uintptr_t ZimoCollectRTGatherData(uint32_t device);

/* Gather files: the device's settings (sources 0-23) and this process's
 * samples in one binary file. Writing: 1, or 0 when the file cannot be
 * created or written whole. Reading clears the device's gather set-up and
 * takes settings and samples from the file: 1, or 0 when the file cannot be
 * opened or is no whole gather file (the settings are then left as they
 * were). A file that cannot be opened is reported in a "File Error" box. */
int32_t ZimoWriteGatherFile(uint32_t device, const char* path);
int32_t ZimoReadGatherFile(uint32_t device, const char* path);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* CORVAN_GATHER_API_H */
