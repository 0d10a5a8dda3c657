/* Motor tuning: card-query helpers, step statistics and filtering, the
 * limit and phasing programs, data differentiation and the slope and
 * magnitude estimators. Exported from libcorvan32.so; plain C.
 *
 * The procedures that send card programs return 1 when every line went to
 * the card and 0 when they refused their arguments or the card stopped
 * answering (they send nothing after the first exchange that timed out or
 * failed; a card error reply does not stop them). */
#ifndef ZIMO_CORVAN_TUNING_API_H_
#define ZIMO_CORVAN_TUNING_API_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Card-query helpers ---- */

/* Composes a command (printf rules, at most 255 characters) and exchanges it
 * for its reply, stored into `reply` (at most `size` characters) with white
 * space and ACK outside quotes removed. A longer command is not sent and
 * leaves an empty reply. */
void FormatAndGetResponse(uint32_t device, char* reply, uint32_t size, const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 4, 5)))
#endif
    ;
/* Composes a command the same way and sends it without reading a reply; the
 * transport's count, or -1 when the command is too long and was not sent. */
int32_t FormatAndSendLine(uint32_t device, const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 2, 3)))
#endif
    ;
/* Removes white space and ACK (0x06) outside double quotes, in place. */
void szStripUnquotedSpaceA(char* text);
/* The I-variable as a 32-bit value, 0 when the card does not answer. */
int32_t GetIVariableLongOrZero(uint32_t device, uint32_t number);
/* 1 when the card's global status shows a buffered (program or rotary)
 * mode, else 0. */
int32_t InBufferedMode(uint32_t device);
/* Rounds a number text: truncates, then adds 1 when the remainder is at
 * least 0.5 (so negative values are only truncated: -2.7 gives -2). */
int32_t Round(const char* text);
/* The number text truncated toward zero. */
int32_t ConvertToLong(const char* text);
/* Writes the value as upper-case hexadecimal ("%lX", at most 8 digits and
 * the terminator) into `out`; returns `out`. */
char* ConvertToHex(int32_t value, char* out);
/* 1 when the low 16 bits of the I-variable (signed) equal the text's value. */
int32_t CompareIvar(uint32_t device, uint32_t number, const char* text);
/* A 48-bit card word (12 hexadecimal digits, signed upper half). */
int64_t ConvertWordToLong(const char* word);
/* The same value printed with six decimals into `out` (at least 32 bytes);
 * returns `out`. */
char* ConvertWordToStringFloat(const char* word, char* out);
/* The 24-bit word at text + offset, sign-extended, its upper 16 bits. */
int16_t ConvertWordToShort(const char* text, int16_t offset);

/* ---- Step statistics and filtering (no card traffic) ---- */

/* Each statistics text buffer holds at least this many bytes. */
#define ZIMO_STEP_TEXT_SIZE 64
/* Figures of merit of a gathered step response (`count` samples), each
 * written as text into its own buffer. */
void CalculateStepStatistics(const int32_t* samples, int32_t count, int32_t step, int32_t i10,
                             int32_t i19, char* rise, char* peak, char* natural, char* overshoot,
                             char* damping, char* settling);
/* Second-order low-pass filter over the samples, in place; the count, or 0
 * for no samples or a corner text that is 0 or no number (samples kept). */
int32_t LowPassFilterTheData(int32_t* samples, int32_t count, const char* corner);
/* Time derivative of the values in place, with the smallest and largest
 * result. A zero sample time only shows "sample_time = 0". */
void DifferentiateTheData(int32_t* values, int32_t count, int32_t i10, int32_t i19,
                          int32_t* minimum, int32_t* maximum);

/* ---- Current gather ---- */

/* Clears gather sources 0 to 23, then gives the next source, in bit order,
 * to each set bit of `mask` (0-7: Y current word, 8-15: D pair, 16-23: X
 * current word of motors 1 to 8; older card map), enabled or not by
 * `enable`. The device lock is held throughout. Returns 1. */
int32_t ZimoSetCurrentGather(uint32_t device, uint32_t mask, int32_t enable);

/* ---- Motor set-up tests: current feedback ---- */

/* Downloads and starts (as PLC 31) the current-feedback test of a motor
 * (1 to 8): ten one-second passes with the outputs at zero and driven at
 * `duty` percent (PWM frequency `frequency`), recording the motor's two
 * current readings; P998 rises to 10. 1 when started; 0 when the motor's
 * In02 reads 0, its current channel (In82) is none of the card's, the
 * feedback table cannot be read, the card is of the newer generation, or
 * the card stopped answering (what was changed is then put back by the
 * read-results call). */
int32_t DownloadCurrentFeedbackTestProgram(uint32_t device, int16_t motor, float duty,
                                           int16_t frequency, int32_t varlo, int16_t compact);
/* Puts the phase clock back and judges the test: 1 or 2 (the feedback's
 * polarity), -1 undecided, -2, -3, -4 readings too small, -5 when the test
 * did not complete (or none of this process is pending on the device: then
 * nothing is sent). `motor` is not used. */
int32_t ReadResultsFromCurrentFeedbackTest(uint32_t device, int16_t motor);
/* Points feedback I-variable `ivar` at the feedback-table entry of
 * `address` (type 1 absolute, only after a VARLO current-feedback test; 3
 * incremental), adding the entry at the table's end when it is not there.
 * 1; 0 when the table cannot be read, the card stopped answering, or the
 * card is of the newer generation. */
int32_t SetIvarForFeedback(uint32_t device, int16_t ivar, int32_t address, int16_t type);

/* ---- Current-loop step tests (motors 1 to 8, older card map) ---- */

/* The sample-time text holds at least this many bytes. */
#define ZIMO_SAMPLE_TIME_TEXT_SIZE 32
/* Steps the current command of a brushless motor (the direct current In77)
 * or of a brush motor (the output word in open loop) for `dwell`
 * milliseconds by `magnitude`, while the card gathers the response; the
 * other seven motors are killed and deactivated. With `autotune` set the
 * current loop's integral gain becomes 0.25 / `divisor` (at least 1).
 * `duty` is the open-loop output (percent) the brushless motor holds before
 * the step; `compact` picks the compact card's clock variables (I992, I997,
 * I998). The sample time in seconds goes into `sample_time` ("%lf"). 1 when
 * the card reported the step over; 0 when refused (another motor number, a
 * SPRAN card: nothing sent), when the card stopped answering (nothing sent
 * after that), when its clock settings could not be read, or when the step
 * did not end within 1 s + dwell + 5 s. Call RestoreModifiedIvars after
 * collecting the gathered data. */
int32_t DoACurrentLoopStep(uint32_t device, int16_t motor, int16_t dwell, int32_t magnitude,
                           int16_t autotune, char* sample_time, float duty, int16_t divisor,
                           int16_t compact);
int32_t DoACurrentLoopStepBrush(uint32_t device, int16_t motor, int16_t dwell, int32_t magnitude,
                                int16_t autotune, char* sample_time, float duty, int16_t divisor,
                                int16_t compact);
/* Writes back the I-variables the last current-loop test of this process on
 * that device and motor changed (values it could not read stay as they
 * are). 1 when the card took every line; 0, with nothing sent, when this
 * process ran no such test, or when the card stopped answering (the saved
 * values stay for another call). */
int32_t RestoreModifiedIvars(uint32_t device, int16_t motor);

/* ---- Motor set-up tests: six-step tests ---- */

/* Download and start (as PLC 31) a six-step test of a motor (1 to 8): the
 * voltage test drives the motor's three outputs through eight steps at
 * `duty` percent, the current test its two phase offsets through seven at
 * `duty` percent of In69, each step P999 milliseconds, recording the
 * commutation word after each; the UVW test drives the offsets through
 * seven steps of two seconds at `duty` percent of 32767 and records the
 * Hall state. P998 rises to 10. 1 when started; 0 when the feedback table
 * cannot be read, the motor has no outputs (UVW test), the card is of the
 * newer generation, or the card stopped answering (the read-results call
 * then clears the feedback entries). `compact` of the current test is not
 * used. */
int32_t DownloadVoltageSixStepTestProgram(uint32_t device, int16_t motor, float duty,
                                          int16_t varlo, int16_t compact);
int32_t DownloadCurrentSixStepTestProgram(uint32_t device, int16_t motor, float duty,
                                          int16_t varlo, int16_t compact);
int32_t DownloadUVWSixStepTestProgram(uint32_t device, int16_t motor, float duty);
/* The voltage or current test's six differences between successive
 * records (P100 to P106, or P101 to P107 with `skip`) into `steps` (6
 * values), and its feedback entries cleared: 1; -5 when the test did not
 * complete, was stopped, or none of this process is pending on the device
 * (then nothing is sent), with `steps` untouched. */
int32_t ReadResultsFromSixStepTest(uint32_t device, int32_t* steps, int16_t skip);
/* The UVW test's seven Hall states (P100 to P106) into `out` (7 values): 1;
 * -5 as above. The last four arguments are not used. */
int32_t ReadResultsFromUVWSixStepTest(uint32_t device, int32_t* out, int32_t unused1,
                                      int32_t unused2, int32_t unused3, int32_t unused4);

/* ---- Motor set-up tests: open loop ---- */

/* Download and start (as PLC 31, with the limit watchdog PLC 30) a test
 * that drives a motor (1 to 8) in open loop with pulses of `magnitude`
 * percent of its In69, each `milliseconds` long, `repetitions` times
 * (below 1: until P1021 is set from outside), while the card gathers
 * (every 5 servo cycles; the motor's currents when `gather_currents` is
 * set, else its standard signals). The card sets P996 to 123 when done.
 * The first two point the motor's In03 at a temporary feedback-table entry
 * during the test (a ring-station entry when `varlo` is set), which the
 * program itself puts back at its end. The plain form alternates positive
 * and negative pulses with rests (rests only when gathering currents); the
 * "1" form gives positive pulses only; the first-generation form
 * alternates with 327.67 x `magnitude` and gathers fixed addresses.
 * 1 when started; 0 for a motor outside 1 to 8, a card of the newer
 * generation, an unreadable feedback table, or a card that stopped
 * answering (what the test changed is put back by the next open-loop
 * download on the device). */
int32_t DownloadOpenLoopTestProgram(uint32_t device, int16_t motor, int16_t magnitude,
                                    int16_t milliseconds, int16_t repetitions,
                                    int16_t gather_currents, int16_t varlo);
int32_t DownloadOpenLoopTestProgram1(uint32_t device, int16_t motor, int16_t magnitude,
                                     int16_t milliseconds, int16_t repetitions,
                                     int16_t gather_currents, int16_t varlo);
int32_t DownloadOpenLoopTestProgramForZimo1(uint32_t device, int16_t motor, int16_t magnitude,
                                            int16_t milliseconds, int16_t repetitions,
                                            int16_t gather_currents, int16_t varlo);

/* ---- Limit and phasing programs (motors 1 to 8) ---- */

/* PLC 30: kills the motor when a position limit is hit (not enabled here). */
int32_t DownloadPosLimitPLC(uint32_t device, int16_t motor);
/* PLC 32: kills the motor above the speed; enabled once complete. */
int32_t DownloadVelLimitPLC(uint32_t device, int16_t motor, int32_t speed);
/* PLC 31: rough phasing, started at once; P998 reaches 10 when done. */
int32_t DownloadAndRunRoughPhasePLC(uint32_t device, int16_t motor);
/* Writes a fine-phasing PLC for the motor with the present phase register
 * value into a file; 1 written, 0 when the file cannot be created or the
 * value cannot be read (no file is left then). */
int32_t CreateIncrementalFinePhasePLC(uint32_t device, const char* path, int16_t plc, int16_t motor,
                                      int32_t unused1, int32_t unused2);

/* ---- Position-loop moves ---- */

/* A position step of the motor (1 to 8): PLC 31 moves its commanded
 * position by `step` counts, holds it `milliseconds`, and, when
 * `bidirectional` is not 0, moves it back and holds again; the motor's
 * commanded and actual position and output are gathered (period from the
 * step time and I10). Started before it returns; the card sets P996 from
 * -1 to 123 at the end. On the newer card generation the program uses that
 * generation's words. */
int32_t DoAPositionLoopStep(uint32_t device, int16_t motor, int32_t step, int16_t milliseconds,
                            int16_t bidirectional);
/* The same for a gantry pair moved together; the first motor is gathered. */
int32_t DoAGantryPositionLoopStep(uint32_t device, int16_t first, int16_t second, int32_t step,
                                  int16_t milliseconds, int16_t bidirectional);
/* A parabolic move: motion program 999 moves the motor by `step` counts in
 * one PVT segment of `milliseconds` (and back in a second one when
 * `bidirectional` is not 0), gathered as the position step; P1021 goes from
 * 1 to 0 and P996 from -1 to 123 when it is over. */
int32_t DoAParabolicMove(uint32_t device, int16_t motor, int32_t step, int16_t milliseconds,
                         int16_t bidirectional);
/* The gantry form: both motors out and back (the flag is not read). */
int32_t DoAGantryParabolicMove(uint32_t device, int16_t first, int16_t second, int32_t step,
                               int16_t milliseconds, int16_t bidirectional);

/* Writes motion program 999, a PVT move of both gantry motors out by P1023
 * and back in P1022 ms segments; neither gathers nor starts it. */
int32_t DoAGantryParabolic(uint32_t device, int16_t first, int16_t second);

/* ---- Autotuning program ---- */

/* Write PLC 31 (not enabled) for an automatic tuning run of a motor (1 to
 * 32) in open loop: it drives the output with P1020 until the motor has
 * travelled P1023 or P1022 ms have passed, then reverses the output
 * (`current_loop` not 0) or clears it, waits until the motor settles, jogs
 * it back to where it started (unless `bypass_jog` is not 0; P996 is -123
 * while the jog runs) and ends with P1019 = 0 and P996 = 123. The motor's
 * positions and output are gathered; a motor past 8 is gathered with the
 * mask of this process's last test. */
int32_t DownloadAutoTuningPLC(uint32_t device, int16_t motor, int16_t current_loop,
                              int16_t bypass_jog);
/* The same for a gantry pair driven together (the first motor gathered). */
int32_t DownloadGantryAutoTuningPLCP1(uint32_t device, int16_t first, int16_t second,
                                      int16_t current_loop, int16_t bypass_jog);
/* The gantry program with the travel (the first motor's counts) and time
 * set by the download; it sets up no gathering and leaves P996 alone. */
int32_t DownloadGantryAutoTuningPLC(uint32_t device, int32_t first, int32_t second,
                                    int32_t current_loop, int32_t bypass_jog, float travel,
                                    int32_t milliseconds);

/* ---- Estimators ---- */

/* Read 90 (Slope) or 10 (MagEstimation) whole numbers from a text file,
 * evaluate the estimation network and send "P1023=%f". 0, with nothing
 * sent, when the file cannot be opened or holds fewer numbers. */
int32_t Slope(uint32_t device, const char* path);
int32_t MagEstimation(uint32_t device, const char* path);

/* ---- Why a motor or a coordinate system does not move ---- */

/* One bit per finding about the motor (older cards 1 to 8; the newer
 * generation 1 to 32), 0 when nothing was found; a motor number out of
 * range gives 0x2000000 alone and asks the card nothing. The plain form
 * follows the device's card generation. */
uint32_t whyMotorNotMoving(uint32_t device, int32_t motor);
uint32_t whyMotorNotMovingSPRAN(uint32_t device, int32_t motor);
/* The same for a coordinate system (1 to 8; newer generation 1 to 16); out
 * of range gives 0x1000 alone. */
uint32_t whyCSNotMoving(uint32_t device, int32_t system);
uint32_t whyCSNotMovingSPRAN(uint32_t device, int32_t system);
/* The text of the mask's lowest finding, a printf template left unfilled,
 * or "No motor error found." for 0. A loaded text stays valid until the
 * calling thread has loaded three further texts. */
const char* whyMotorNotMovingString(uint32_t mask);
const char* whyMotorNotMovingStringSPRAN(uint32_t mask);
const char* whyCSNotMovingString(uint32_t mask);
const char* whyCSNotMovingStringSPRAN(uint32_t mask);
/* The coordinate system in which the motor has an axis, its definition
 * (white space removed) in `definition`, which holds at least 256 bytes;
 * 0 and an empty text when it has none; 0 and a message for a motor out of
 * range. */
int32_t iGetCoordSysDef(uint32_t device, int32_t motor, char* definition);

/* ---- Ring stations ---- */

/* Words of the node table AerivoAnalyze fills: [0] nodes that answered,
 * [1] changes of station type along them, [2 + node] present (1) or absent
 * (-1), [66 + node] I/O node (1) or not (0), -1 absent, [130 + node] the
 * station type (I3), -1 absent; nodes 0 to 63. */
#define VARLO_NODE_TABLE_WORDS 194

/* Station I-variable `number` of ring node `node` as a number, or
 * `default_value` when the card gives none. */
int32_t VARLOGetIVariableLong(uint32_t device, uint32_t node, uint32_t number,
                              int32_t default_value);
/* The same as the card's text (valid until this thread's next call), or
 * `default_text` when the card answers with an error. */
const char* VARLOGetIVariableString(uint32_t device, uint32_t node, uint32_t number,
                                    const char* default_text);
/* Writes the station I-variable; 1 when the card took it, 0 when it
 * answered with an error or not at all. */
int32_t VARLOSetIVariableString(uint32_t device, uint32_t node, uint32_t number,
                                const char* value);
/* Saves the settings of every station on the ring into the text file at
 * `path`, one "MSnode,Inumber=value" line each (lines the card must not get
 * back start with ';'), lines ending in CR LF. `progress` (may be null)
 * hears the percentage within each range of I-variables. 1 when written;
 * 0 when the file cannot be written or the card stops answering; no file
 * is left then, and I9 is as it was. */
int32_t VARLOUploadConfig(uint32_t device, void (*progress)(int32_t percent), const char* path);
/* Scans the ring's nodes into `table` (VARLO_NODE_TABLE_WORDS words); the
 * number of nodes that answered. */
int32_t AerivoAnalyze(uint32_t device, int32_t* table);

#ifdef __cplusplus
}
#endif

#endif /* ZIMO_CORVAN_TUNING_API_H_ */
