/* The C entry points the Vocto control library exports, as a plain C
 * header (its identifiers and ProgIDs are in vocto_guids.h, which is not
 * installed). */
#ifndef VOCTO_VOCTO_IDS_H_
#define VOCTO_VOCTO_IDS_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The in-process server's entry points (results are HRESULTs). `clsid` and
 * `iid` point at 16-byte identifiers; *object receives the class object. */
int32_t DllRegisterServer(void);
int32_t DllUnregisterServer(void);
int32_t DllGetClassObject(const void* clsid, const void* iid, void** object);
int32_t DllCanUnloadNow(void);

#ifdef __cplusplus
}
#endif

#endif /* VOCTO_VOCTO_IDS_H_ */
