/* Binary rotary buffers: rings of card commands in the card's dual-ported RAM
 * (buffers 0 to 7) that the card executes while the host keeps filling them,
 * the converter from motion-program text to the card's binary commands, and
 * the host-side packets that carry the same commands to USB and Ethernet
 * cards.
 *
 * Results of the put family: 0 accepted; 1 not taken now, try again later
 * (ring full, or the card took only part of what was sent); 2 end of input;
 * -1 no DPR, buffer not set up or refused by the card; -70 buffer size
 * error; -64 output file error; -65 input file error; the converter's errors
 * -37, -60 to -63 and -66 to -69. The library's text of an error is the
 * string-table entry numbered with the code's absolute value.
 *
 * Text arguments are changed in place: upper-cased, and emptied (first
 * character set to 0) when the command went into the staging block but its
 * sending must be retried, so that calling again with the same text only
 * sends what waits. Files are opened by the caller (text files in binary
 * mode; a CR before a line end is dropped). */
#ifndef CORVAN_ROTARY_API_H_
#define CORVAN_ROTARY_API_H_

#include <stdint.h>
#include <stdio.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* --- Rings ---------------------------------------------------------------- */

/* 9 while variable-background users exist; else the number (1 to 8) of the
 * highest buffer that is set up, 0 when none or without DPR. */
int32_t ZimoDPRBufLast(uint32_t device);
/* The DPR word holding the variable-background area's start address. */
uint16_t ZimoDPRGetVBGStartAddr(uint32_t device);
/* Sets up buffer n (0 to 7) with its configured size, below the lowest ring
 * in use: 0, or -1 (no DPR, no room, the card's write buffer stayed busy, a
 * resize of a ring that is not the lowest, a new ring while
 * variable-background users exist). In host rotary mode it empties the
 * host-side packets instead. */
int16_t ZimoDPRRotBufInit(uint32_t device, uint32_t n);
/* Stores a new size (in DPR words) for buffer n, then sets it up as Init;
 * on failure the old size stays. */
int16_t ZimoDPRRotBufChange(uint32_t device, uint32_t n, uint16_t size);
/* Gives buffer n's room back (size 0), as Init. */
int16_t ZimoDPRRotBufRemove(uint32_t device, uint32_t n);
/* Empties buffer n. */
void ZimoDPRRotBufClr(uint32_t device, uint32_t n);
/* Switches the card's binary rotary mode on (non-zero) or off; returns the
 * mode now recorded (1 or 0), 0 without DPR. */
uint16_t ZimoDPRRotBuf(uint32_t device, int32_t on);

/* Puts `count` 32-bit words into buffer n's ring in DPR. */
int16_t ZimoDPRrotput(uint32_t device, int32_t count, const uint32_t* words, uint32_t n);
/* The same through the staging block on USB and Ethernet cards (which
 * always feed the card's buffer 0): `flush` non-zero sends what is staged;
 * `text`, when given, is emptied when the command is staged but its sending
 * must be retried. Other cards: ZimoDPRrotput. */
int16_t ZimoDPRrotputEx(uint32_t device, int32_t count, const uint32_t* words, uint32_t n,
                        int32_t flush, char* text);

/* --- Converting and feeding ------------------------------------------------ */

/* Converts one line of motion text and puts it (host rotary mode: into the
 * host-side packets). */
int16_t ZimoDPRAsciiStrToRotA(uint32_t device, char* text, uint32_t n);
/* The same for a 16-bit text (at most 255 characters): 0 when it cannot be
 * converted to the ANSI code page. */
int16_t ZimoDPRAsciiStrToRotW(uint32_t device, char16_t* text, uint32_t n);
/* ZimoDPRAsciiStrToRotA where the caller decides whether to send now; ""
 * just sends whatever waits. */
int16_t ZimoDPRAsciiStrToRotEx(uint32_t device, char* text, uint32_t n, int32_t flush);
/* Converts only: fills the 608-byte `block`; the number of 32-bit words, 0
 * for an empty line, or a converter error. */
int32_t ZimoDPRAsciiStrToBinary(uint32_t device, char* text, void* block);
/* As ZimoDPRAsciiStrToRotA, never through the host-side packets. */
int16_t ZimoDPRSendBinaryCommandA(uint32_t device, char* text, uint32_t n);
int16_t ZimoDPRSendBinaryCommandW(uint32_t device, char16_t* text, uint32_t n);
/* Reads, converts and puts the next line of `file`: 2 at its end, -65 on a
 * read error or a line over 255 characters, else as the A form. On 1 the
 * same line is read again by the next call. */
int16_t ZimoDPRAsciiFileToRot(uint32_t device, FILE* file, uint32_t n);
/* The next record of a binary command file (a little-endian 16-bit word
 * count, then the words): 2 at its end, -65 for a short record, else the
 * put's result; on 1 the same record is read again. */
int16_t ZimoDPRBinaryFileToRot(uint32_t device, FILE* file, uint32_t n);
/* The record at `list` (the same layout in memory): 2 when its count is 0,
 * else the put's result; *next is set past the record unless the result is
 * 1 or an error, or the count is 0. */
int16_t ZimoDPRBinaryToRot(uint32_t device, const void* list, const void** next, uint32_t n);
/* Converts every line of `text_file` into a record of `binary_file`: 2 at a
 * clean end, -65 read error, -64 write error, or the converter's error. */
int16_t ZimoDPRAsciiToBinaryFile(uint32_t device, FILE* text_file, FILE* binary_file);
/* Converts one text (the A form does not upper-case it) and appends its
 * record: 0, -64 or a converter error. */
int16_t ZimoDPRAsciiStrToBinaryFileA(uint32_t device, char* text, FILE* binary_file);
int16_t ZimoDPRAsciiStrToBinaryFileW(uint32_t device, char16_t* text, FILE* binary_file);

/* --- Host-side packets (USB and Ethernet cards) ---------------------------- */

/* Host rotary mode on (non-zero) or off for the device. */
void SetBinRotHostMode(uint32_t device, int32_t mode);
/* Stages `count` words for buffer n (0 to 15) as one record and, with
 * `flush`, sends the device's packet of that buffer: 0 accepted, 1 not
 * accepted now, -1 for a buffer number of 16 or more, -70 for a block of
 * more than 255 words. Other cards: ZimoDPRrotputEx. */
int16_t ZimoHostrotput(uint32_t device, int32_t count, const uint32_t* words, uint32_t n,
                       int32_t flush, char* text);
/* Empties the device's 16 packets and resets the card's reception: the
 * driver call's success (1 or 0). */
int32_t ZimoHostBinRotInit(uint32_t device);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* CORVAN_ROTARY_API_H_ */
