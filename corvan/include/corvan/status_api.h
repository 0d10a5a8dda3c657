/* Motor, coordinate-system and global status read from the host copies of
 * the card's fixed DPR buffers (real-time and background). None of these
 * touches the card: they read the copies that the buffers' update calls
 * refresh, under the device's DPR data lock. Motors and coordinate systems
 * count from 0: motors 0-7 on older cards and 0-31 on SPRAN cards, systems
 * 0-7 and 0-15. A number outside that range, or a device that is none,
 * reads as 0. Scaled readers give raw * factor / scale, 0 for scale 0. */
#ifndef CORVAN_STATUS_API_H
#define CORVAN_STATUS_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The fixed buffers themselves. Switching sends the card its commands and
 * records the state in the shared block; an update copies a whole buffer
 * into the host copy the readers below use. The switches give 0 and send
 * nothing when the device's DPR is not usable from this process. */
/* Real-time buffer: `on` 1 switches on, anything else off. The result is
 * the buffer's active flag after the call. */
int32_t ZimoDPRRealTime(uint32_t device, uint32_t period, int32_t on);
int32_t ZimoDPRRealTimeEx(uint32_t device, uint32_t mask, uint32_t period, int32_t on);
/* The motors the real-time buffer carries (bit m: motor m). */
int32_t ZimoDPRRealTimeSetMotor(uint32_t device, uint32_t mask);
/* Copies the card's latest block into the host copy: 1 on success, else 0
 * with the copy untouched. */
int32_t ZimoDPRUpdateRealTime(uint32_t device);
/* Background buffer. */
int32_t ZimoDPRBackground(uint32_t device, int32_t on);
int32_t ZimoDPRBackgroundEx(uint32_t device, int32_t on, uint32_t period, uint32_t count);
/* Copies the background buffer, waiting at most the poll limit for fresh
 * data: 1 on older cards, 0 on SPRAN cards. */
int32_t ZimoDPRUpdateBackground(uint32_t device);
/* 1 when the background update returned 0, else 0. */
int32_t ZimoDPRSetBackground(uint32_t device);
/* The number of motors the fixed buffers carry (0 when above the card's). */
void ZimoDPRSetMotors(uint32_t device, uint32_t count);
/* Re-arms both buffers and waits for the card to refresh them: 1 when both
 * were seen refreshed. Copies nothing. */
int32_t ZimoDPRFixedBufferDataUpdate(uint32_t device);

/* Positions and velocities of one motor. */
double ZimoDPRGetCommandedPos(uint32_t device, int32_t motor, double scale);
double ZimoDPRPosition(uint32_t device, int32_t motor, double scale);
double ZimoDPRNetActualPosition(uint32_t device, int32_t motor, double scale);
double ZimoDPRFollowError(uint32_t device, int32_t motor, double scale);
void ZimoDPRGetMasterPos(uint32_t device, int32_t motor, double scale, double* out);
void ZimoDPRGetCompensationPos(uint32_t device, int32_t motor, double scale, double* out);
double ZimoDPRGetTargetPos(uint32_t device, int32_t motor, double scale);
double ZimoDPRGetBiasPos(uint32_t device, int32_t motor, double scale);
double ZimoDPRGetVel(uint32_t device, int32_t motor, double scale);
double ZimoDPRVelocity(uint32_t device, int32_t motor, double scale);
/* Square root of the sum of the squared velocities of `count` motors, each
 * with its own scale (an entry of scale 0 adds nothing). */
double ZimoDPRVectorVelocity(uint32_t device, uint32_t count, const uint32_t* motors,
                             const double* scales);
int32_t ZimoDPRGetPrevDAC(uint32_t device, int32_t motor);
int32_t ZimoDPRGetMoveTime(uint32_t device, int32_t motor);
int32_t ZimoDPRGetServoTimer(uint32_t device);
uint32_t ZimoDPRMotorServoStatus(uint32_t device, int32_t motor);
uint32_t ZimoDPRMotorServoStatusSpran(uint32_t device, int32_t motor);

/* Status bits of one motor: 0 or 1. */
int32_t ZimoDPRMotorEnabled(uint32_t device, int32_t motor);
int32_t ZimoDPROnNegativeLimit(uint32_t device, int32_t motor);
int32_t ZimoDPROnPositiveLimit(uint32_t device, int32_t motor);
int32_t ZimoDPRHandwheelEnabled(uint32_t device, int32_t motor);
int32_t ZimoDPRPhasedMotor(uint32_t device, int32_t motor);
int32_t ZimoDPRAmpEnabled(uint32_t device, int32_t motor);
int32_t ZimoDPROpenLoop(uint32_t device, int32_t motor);
int32_t ZimoDPRDataBlock(uint32_t device, int32_t motor);
int32_t ZimoDPRInposition(uint32_t device, int32_t motor);
int32_t ZimoDPRWarnFError(uint32_t device, int32_t motor);
int32_t ZimoDPRFatalFError(uint32_t device, int32_t motor);
int32_t ZimoDPRAmpFault(uint32_t device, int32_t motor);
int32_t ZimoDPRHomeComplete(uint32_t device, int32_t motor);
int32_t ZimoDPROnPositionLimit(uint32_t device, int32_t motor);
int32_t ZimoDPRIsAssignedCoord(uint32_t device, int32_t motor, int32_t unused);
/* The 1-based coordinate system the motor is assigned to. */
int32_t ZimoDPRGetAssignedCoord(uint32_t device, int32_t motor, int32_t unused);
/* 0 idle, 1 moving with a non-zero velocity, 2 moving to a target, 3 homing,
 * 4 handwheel, 5 open loop, 6 not activated or no DPR. */
int32_t ZimoDPRGetMotorMotion(uint32_t device, int32_t motor);
/* Older cards: writes the motor's commanded position into its jog-return
 * register through the command path. */
void ZimoDPRSetJogReturn(uint32_t device, int32_t motor);

/* Coordinate systems. */
int32_t ZimoDPRProgRunning(uint32_t device, int32_t cs);
int32_t ZimoDPRProgStepping(uint32_t device, int32_t cs);
int32_t ZimoDPRProgContMotion(uint32_t device, int32_t cs);
int32_t ZimoDPRProgContRequest(uint32_t device, int32_t cs);
int32_t ZimoDPRRotBufFull(uint32_t device, int32_t cs);
int32_t ZimoDPRSysInposition(uint32_t device, int32_t cs);
int32_t ZimoDPRSysWarnFError(uint32_t device, int32_t cs);
int32_t ZimoDPRSysFatalFError(uint32_t device, int32_t cs);
int32_t ZimoDPRSysAmpFaultError(uint32_t device, int32_t cs);
int32_t ZimoDPRSysCircleRadError(uint32_t device, int32_t cs);
int32_t ZimoDPRSysRunTimeError(uint32_t device, int32_t cs);
int32_t ZimoDPRLookAheadEnabled(uint32_t device, int32_t cs);
/* What system `cs` is doing: 0 stopped, 1 running, 2 single-stepping, 3 on
 * hold, 4 held by a jog, 5 stopped by one. */
int32_t ZimoDPRGetProgramMode(uint32_t device, int32_t cs);
/* 0 linear, 1 rapid, 2 circle clockwise, 3 counter-clockwise, 4 spline, 5 PVT. */
int32_t ZimoDPRGetMotionMode(uint32_t device, int32_t cs);
double ZimoDPRGetFeedRateMode(uint32_t device, int32_t cs, uint32_t* feed_rate_mode);
/* Commanded position of axis A, B, C, U, V, W, X, Y or Z (upper case). */
double ZimoDPRCommanded(uint32_t device, int32_t cs, char axis);
int32_t ZimoDPRPe(uint32_t device, int32_t cs);
int32_t ZimoDPRProgRemaining(uint32_t device, int32_t cs);
int32_t ZimoDPRTimeRemInMove(uint32_t device, int32_t cs);
int32_t ZimoDPRTimeRemInTATS(uint32_t device, int32_t cs);

/* Card-wide status. The global words are 8 bytes: two dwords of 24 bits. */
int32_t ZimoDPRMotionBufOpen(uint32_t device);
int32_t ZimoDPRRotBufOpen(uint32_t device);
void ZimoDPRGetGlobalStatus(uint32_t device, void* words);
void ZimoDPRGetGlobalStatusSpran(uint32_t device, void* words);
int32_t ZimoDPRSysServoError(uint32_t device);
int32_t ZimoDPRSysReEntryError(uint32_t device);
int32_t ZimoDPRSysMemChecksumError(uint32_t device);
int32_t ZimoDPRSysPromChecksumError(uint32_t device);

#ifdef __cplusplus
}
#endif

#endif /* CORVAN_STATUS_API_H */
