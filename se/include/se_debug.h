/*
 * se_debug.h - the secure engine's debug shell for engineers.
 *
 * VELD_SE_Debug runs an interactive text menu on standard input and output that shows the
 * engine's state and exercises the secure store, replay-protected storage, the AES paths, the
 * permanent log and the secure-engine daemon. Numbers are read through the platform's console
 * input (VELD_DBG_*). The companion calls print in the shell's formats. Nothing returned needs
 * freeing.
 */
#ifndef SE_DEBUG_H
#define SE_DEBUG_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One row of a menu: an entry ("    [%02x]%s") with its number and handler, or a heading
 * ("    %s") when number is negative. A handler of NULL is an entry not implemented. */
typedef struct VELD_SE_DEBUG_MENU {
    int32_t number;
    const char* text;
    void (*handler)(void);
} VELD_SE_DEBUG_MENU;

/* Runs the shell until the command 0 or one above the last entry; 0, or -1 when the debug
 * context could not be opened. */
int32_t VELD_SE_Debug(void);
void VELD_SE_DebugPrintMenu(const VELD_SE_DEBUG_MENU* menu, uint32_t count);
/* Reads a hexadecimal number after `prompt` into *value. */
int32_t VELD_SE_DebugGetHexInput(const char* prompt, uint32_t* value);
/* 16 bytes a line: "%04x : ", the bytes as "%02x ", then as characters ('.' outside 32..126). */
void VELD_SE_DebugPrintData(const uint8_t* data, uint32_t length);
/* A line on the engine's log at the error or the progress level (printf-style). */
void VELD_SE_DebugPrintError(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
void VELD_SE_DebugPrintInfo(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
/* Prints every field of this process's record and of the shared record by name. */
void VELD_SE_DebugPrintProcessInfo(void);
/* The fixed test text of the AES tests (225 characters). */
const char* VELD_SE_DebugGetTestText(void);
/* The DMA usage monitor: starts it every `intervalMs` (1 to 3,600,000; else 5,000), or stops
 * it when it runs. */
int32_t _SE_DBG04(uint32_t intervalMs);

#ifdef __cplusplus
}
#endif

#endif /* SE_DEBUG_H */
