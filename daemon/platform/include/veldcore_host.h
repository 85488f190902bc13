/*
 * veldcore_host.h - what our PC implementation of the platform library offers beyond the
 * contract: the simulated board record that tools inspect, log capture for tests, and removal
 * of named regions and semaphores so tests leave nothing behind. Only host-side code (tools,
 * simulators, tests) includes this; the product never does.
 */
#ifndef VELDCORE_HOST_H
#define VELDCORE_HOST_H

#include <stdint.h>

#include "veldcore.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Simulated board: one record in shared memory per namespace ------------------------- */

#define VELD_BOARD_REGION "/veld-board"
#define VELD_BOARD_MAGIC 0x56424431u /* "VBD1" */
#define VELD_BOARD_REGISTERS 4096

typedef struct VELD_BOARD_REGISTER {
    uint32_t address;
    uint32_t value;
} VELD_BOARD_REGISTER;

typedef struct VELD_BOARD_STATE {
    uint32_t lowPower;          /* 1 while in low-power mode */
    uint32_t lowPowerEnters;    /* counts of the requests */
    uint32_t lowPowerExits;
    uint32_t teLoaded;          /* VELD_TE_Open loaded the firmware */
    uint32_t hdrMonitorStarted;
    uint32_t otpThreadStarted;
    uint32_t registerCount;     /* registers ever written */
    uint32_t registerReads;
    uint32_t registerWrites;
} VELD_BOARD_STATE;

/* A consistent copy of the board's state and, when `registers` is not null, of up to
 * `capacity` written registers (their number is state->registerCount). 0 on success. */
int32_t VELD_HOST_BoardSnapshot(VELD_BOARD_STATE* state, VELD_BOARD_REGISTER* registers,
                                uint32_t capacity);

/* ---- Log capture --------------------------------------------------------------------------- */

/* Every written line (with its trailing newline) also goes to `sink`; null removes it. */
typedef void (*VELD_HOST_LOG_SINK)(const char* line, void* context);
void VELD_HOST_SetLogSink(VELD_HOST_LOG_SINK sink, void* context);
/* The word of enabled levels (bit n = level n) of a registered object, for callers that test a
 * level inline before they format anything; it lives as long as the library and reads 0 once
 * the object is deregistered. Null for an invalid handle. Read it atomically. */
const uint32_t* VELD_HOST_LogLevelMask(int32_t handle);

/* ---- Cleanup of system-wide names (tests) --------------------------------------------------- */

/* Remove a named region or semaphore (name as given to VELD_OSA_Open*, namespaced here). */
int32_t VELD_HOST_UnlinkMemory(const char* name);
int32_t VELD_HOST_UnlinkSema(const char* name);

#ifdef __cplusplus
}
#endif

#endif /* VELDCORE_HOST_H */
