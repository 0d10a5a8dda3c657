/* The DPR memory test: each DPR cell is written from one side and checked
 * from the other, in both directions, and left zero. Every DPR service of
 * the card is switched off first and stays off; I5 and I3 are put back.
 *
 * The test runs on the calling thread and holds the device's command lock
 * throughout. One test runs at a time in a process. */
#ifndef CORVAN_DPR_TEST_API_H
#define CORVAN_DPR_TEST_API_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Told the running error count, a text (null when only the count and the
 * position moved on) and the DPR byte offset reached. The last call carries
 * the final text: "DPRAM test completed successfully", or a text that
 * starts "DPRAM test failed.", "DPRAM test Aborted." or "DPRAM test
 * halted.". */
typedef void (*DprTestCallback)(uint32_t errors, const char* text, uint32_t offset);
/* Told the percentage of the current phase. */
typedef void (*DprTestProgress)(int32_t percent);

/* Runs the test; either callback may be null. 0 when the device's DPR is
 * not usable from this process; 1 otherwise (also when a test is running
 * already, which the callback is told). */
int32_t ZimoDPRTest(uint32_t device, DprTestCallback callback, DprTestProgress progress);
/* Asks the running test to stop at its next step (from any thread, also
 * from inside a callback). */
void ZimoAbortDPRTest(void);
/* Asks the PCI driver to check the mailbox control byte: 1 when the driver
 * took the request, 0 when it did not (other drivers, no device). */
int32_t ZimoDPRPCITest(uint32_t device);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* CORVAN_DPR_TEST_API_H */
