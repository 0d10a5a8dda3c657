/* Status queries that answer whether or not the card's fixed DPR buffers
 * run. Most read the host copies (through the DPR readers of status_api.h)
 * while the buffer that carries the value is on and the DPR is usable from
 * this process, and otherwise ask the card in ASCII and parse its reply.
 * The status words themselves are always asked of the card. A few values
 * exist only in the DPR: those are read only when the device talks through
 * its DPR mailbox, and are 0 otherwise.
 *
 * Motors and coordinate systems count from 0 (motors 0-7 on older cards and
 * 0-31 on SPRAN cards, systems 0-7 and 0-15); a number outside that range
 * gives 0 and nothing is asked. Status-word queries over ASCII cover systems
 * 0-7 only. Scaled queries give 0 for scale 0. A reply that cannot be read
 * gives 0. */
#ifndef CORVAN_STATUS_QUERY_API_H
#define CORVAN_STATUS_QUERY_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The two 24-bit status words: 1 when read (words in out[0], out[1]), else
 * 0 with out untouched. The motor query gives 1 when either word was read. */
int32_t ZimoGetGlobalStatus(uint32_t device, uint32_t* words);
int32_t ZimoGetCoordStatus(uint32_t device, int32_t cs, uint32_t* words);
int32_t ZimoGetMotorStatus(uint32_t device, int32_t motor, uint32_t* words);

/* Card-wide error flags from the global status reply: the flag's bit within
 * its hexadecimal digit (8 or 2; 4 or 8), 0 when clear. */
int32_t ZimoSysServoError(uint32_t device);
int32_t ZimoSysReEntryError(uint32_t device);
int32_t ZimoSysMemChecksumError(uint32_t device);
int32_t ZimoSysPromChecksumError(uint32_t device);

/* Positions and velocities (real-time buffer, or ASCII). */
double ZimoGetCommandedPos(uint32_t device, int32_t motor, double scale);
double ZimoPosition(uint32_t device, int32_t motor, double scale);
double ZimoNetActualPosition(uint32_t device, int32_t motor, double scale);
double ZimoFollowError(uint32_t device, int32_t motor, double scale);
double ZimoGetVel(uint32_t device, int32_t motor, double scale);
/* Into *out, which is set to 0 first. */
void ZimoGetMasterPos(uint32_t device, int32_t motor, double scale, double* out);
void ZimoGetCompensationPos(uint32_t device, int32_t motor, double scale, double* out);

/* Program state of a coordinate system (background buffer, or ASCII). */
int32_t ZimoPe(uint32_t device, int32_t cs);
int32_t ZimoProgRemaining(uint32_t device, int32_t cs);
int32_t ZimoProgRunning(uint32_t device, int32_t cs);
int32_t ZimoProgStepping(uint32_t device, int32_t cs);
int32_t ZimoProgContMotion(uint32_t device, int32_t cs);
int32_t ZimoProgContRequest(uint32_t device, int32_t cs);
int32_t ZimoRotBufFull(uint32_t device, int32_t cs);
int32_t ZimoSysInposition(uint32_t device, int32_t cs);
int32_t ZimoSysWarnFError(uint32_t device, int32_t cs);
int32_t ZimoSysFatalFError(uint32_t device, int32_t cs);
int32_t ZimoSysAmpFaultError(uint32_t device, int32_t cs);
int32_t ZimoSysCircleRadError(uint32_t device, int32_t cs);
int32_t ZimoSysRunTimeError(uint32_t device, int32_t cs);

/* Status bits of a motor (background buffer, or ASCII): 0 or 1. */
int32_t ZimoMotorEnabled(uint32_t device, int32_t motor);
int32_t ZimoOnNegativeLimit(uint32_t device, int32_t motor);
int32_t ZimoOnPositiveLimit(uint32_t device, int32_t motor);
int32_t ZimoOpenLoop(uint32_t device, int32_t motor);
int32_t ZimoDataBlock(uint32_t device, int32_t motor);
int32_t ZimoHandwheelEnabled(uint32_t device, int32_t motor);
int32_t ZimoPhasedMotor(uint32_t device, int32_t motor);
int32_t ZimoAmpEnabled(uint32_t device, int32_t motor);
int32_t ZimoInposition(uint32_t device, int32_t motor);
int32_t ZimoWarnFError(uint32_t device, int32_t motor);
int32_t ZimoFatalFError(uint32_t device, int32_t motor);
int32_t ZimoAmpFault(uint32_t device, int32_t motor);
int32_t ZimoHomeComplete(uint32_t device, int32_t motor);
int32_t ZimoOnPositionLimit(uint32_t device, int32_t motor);

/* DPR only (0 unless the device talks through its DPR mailbox). */
double ZimoGetFeedRateMode(uint32_t device, int32_t cs, uint32_t* feed_rate_mode);
double ZimoGetTargetPos(uint32_t device, int32_t motor, double scale);
double ZimoGetBiasPos(uint32_t device, int32_t motor, double scale);
/* Commanded position of axis A, B, C, U, V, W, X, Y or Z. */
double ZimoGetAxisTargetPos(uint32_t device, int32_t cs, char axis);
int32_t ZimoTimeRemInMove(uint32_t device, int32_t cs);
int32_t ZimoTimeRemInTATS(uint32_t device, int32_t cs);
void ZimoSetJogReturn(uint32_t device, int32_t motor);

#ifdef __cplusplus
}
#endif

#endif /* CORVAN_STATUS_QUERY_API_H */
