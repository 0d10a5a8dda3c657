// Corvan32 exports describing the card: type and generation (determined at
// first open), firmware version and date, bootstrap check, and the link list
// file. Saving a card's firmware link list to that file lets PLC programs be
// compiled later with no card attached, by loading it into offline slot 8.
#pragma once

#include <stdint.h>
#ifdef __cplusplus
#include <cstdint>  // std:: names for C++ includers
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Identifies the card again (type, processor, generation values) and returns
// the card type code 1 to 9. A device that is not open in this process is
// not asked: the type stored by its last identification is returned. Slot 8
// gives the type of the restored link list; other numbers 0.
int32_t ZimoGetZimoType(uint32_t device);

// 1 for a card of the SPRAN generation (card type 4 and above), else 0.
int32_t bZIMOIsSpran(uint32_t device);

// Copy the stored firmware version or date text ("N/A" when the card gave
// none) into `buffer`: at most size - 1 characters, always terminated when
// size is above 0. Return `buffer`.
char* ZimoGetRomVersionA(uint32_t device, char* buffer, uint32_t size);
char* ZimoGetRomDateA(uint32_t device, char* buffer, uint32_t size);

// Asks the card whether it runs its bootstrap firmware; 1 when it does. The
// answer is kept for the device (a card in bootstrap mode is identified only
// by an open after it left that mode). A device that is not open in this
// process is not asked: the kept answer is returned.
int32_t ZimoInBootStrapMode(uint32_t device);

// Records the device's link list in "ZIMO_LINKLIST.INI" under its firmware
// version and the card's type reply, unless recorded already. 1 when the
// list is recorded on return; 0 when the card gave no type reply or the file
// could not be written.
int32_t BackupLinkList(uint32_t device);

// Fills the offline slot 8 from the link list file's section `section_name`
// ("<version>- <type reply>"): its 68 entries, the card type the name stands
// for and the values derived from that type. Returns 1 on success; 0 if the
// shared table is unmapped or any entry is absent or out of range (slot 8's
// list is left cleared and marked invalid).
int32_t RestoreLinkList(const char* section_name);

#ifdef __cplusplus
}  // extern "C"
#endif
