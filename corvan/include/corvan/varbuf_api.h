/* Variable background buffers and the write buffer.
 *
 * Variable background (VBG): a process names card words it wants kept
 * fresh; the card keeps copying them into the DPR. Handles 1 to 8 per
 * device, 128 entries over all handles. The address lists and then the
 * data (one dword per entry, two for a two-word entry) share one area
 * below the top of the DPR's free variable area. One process at a time
 * holds handles on a device; another's registration gets -100.
 *
 * Address words: the card address low, a 48-bit-entry flag above it (its
 * position differs by generation; the type word's bit 0 lands there) and
 * the card's ready flag in the top bit where the firmware keeps one.
 *
 * Failures return 0 and leave a code in the device's DPR last error:
 * -28 no DPR (or a DPR access failed), -100 too many users or another
 * process holds users, -101 more than 128 entries in all (or no entries),
 * or a write-buffer count outside 0 to 32, 59 no room in the DPR.
 *
 * Nothing here takes the device's locks; calls from several threads of one
 * process are serialised inside the library. */
#ifndef CORVAN_VARBUF_API_H
#define CORVAN_VARBUF_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Switches the card's variable background service: `on` 1 sends "i55=1",
 * anything else "i55=0"; the result is the background active flag after
 * the call, 0 without DPR. */
int32_t ZimoDPRBackGroundVar(uint32_t device, int32_t on);

/* Registers a user of `count` card addresses: its handle (1 to 8), or 0
 * with the DPR last error set. With `types` (count words, or null) each
 * type is merged into the caller's address word in place once the
 * registration succeeds. */
int32_t ZimoDPRVarBufInitEx(uint32_t device, uint16_t count, uint32_t* addresses,
                            const uint32_t* types);
int32_t ZimoDPRVarBufInit(uint32_t device, uint16_t count, const uint32_t* addresses);
/* Removes a user: 1, or 0 when refused (no DPR, no such handle, or the card
 * did not let the lists move). */
int32_t ZimoDPRVarBufRemove(uint32_t device, int32_t handle);
/* Gives a user a new list of ready-made address words (two-word entries
 * marked in the words themselves): 1, or 0 when refused; a refused change
 * leaves the old list in place. `types` is not used. */
int32_t ZimoDPRVarBufChangeEx(uint32_t device, int32_t handle, uint16_t count,
                              const uint32_t* addresses, const uint32_t* types);
int32_t ZimoDPRVarBufChange(uint32_t device, int32_t handle, uint16_t count,
                            const uint32_t* addresses);

/* Reads entry `entry` (from 0) of a user into 8 bytes at `destination`:
 * the entry's one or two data words, a one-word entry followed by a zero
 * word. 1 when fresh data was read; 0 when refused or when the card has not
 * refreshed the entry since it was last read. */
int32_t ZimoDPRVarBufRead(uint32_t device, int32_t handle, int32_t entry, void* destination);
/* Reads all of a user's data at once, packed as the card lays it out:
 * 1 or 0 as above. */
int32_t ZimoDPRVarBufReadEx(uint32_t device, int32_t handle, void* destination);

/* A user's entry count, address-list offset and data offset (host DPR byte
 * offsets); 0 without DPR or without the handle. */
uint32_t ZimoDPRGetVBGNumEntries(uint32_t device, int32_t handle);
uint32_t ZimoDPRGetVBGAddrOffset(uint32_t device, int32_t handle);
uint32_t ZimoDPRGetVBGDataOffset(uint32_t device, int32_t handle);
/* Address word n (from 0) of a user as it stands in the DPR; 0 without DPR,
 * without the handle or for n outside the user's list. */
uint32_t ZimoDPRGetVBGAddress(uint32_t device, int32_t handle, int32_t n);
/* The servo timer stamp of the card's last refresh; 0 without DPR. */
uint32_t ZimoDPRGetVBGServoTimer(uint32_t device);
/* The number of entries the card is told to refresh (all users). */
uint32_t ZimoDPRGetVBGTotalEntries(uint32_t device);

/* Hands `count` (0 to 32) entries of 12 bytes (3 words: address word, two
 * data words) to the card, which writes them into its memory. With
 * `addresses`, each entry's address word is first set in place to the
 * address ORed with its type (`types`, or 0 when null) shifted left by 16
 * (older cards) or 19 (SPRAN). Result: count when handed over, -1 while the
 * card still holds entries of an earlier call (nothing written), 0 when
 * refused (no DPR, the background loop is off, a bad count, no room). */
int32_t ZimoDPRWriteBufferEx(uint32_t device, int32_t count, uint32_t* entries,
                             const uint32_t* addresses, const uint32_t* types);
int32_t ZimoDPRWriteBuffer(uint32_t device, int32_t count, const uint32_t* entries);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* CORVAN_VARBUF_API_H */
