/*
 * Controls of the host library stand-in, for the command-line host and tests.
 * A real host's library has none of these; the driver never calls them.
 */
#ifndef MORVANE_OSTREL_CONTROL_H
#define MORVANE_OSTREL_CONTROL_H

#include <stdint.h>

#include "morvane/platform_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Receives every formatted log line with its level. */
typedef void (*OstrelLogSink)(int level, const char* line, void* context);

/* Routes log lines to sink; a null sink restores the default (file or stderr). */
OSTREL_API void OstrelSetLogSink(OstrelLogSink sink, void* context);

/* Appends log lines to a file instead of standard error; null restores stderr.
   Returns 0, or -1 when the file cannot be opened. */
OSTREL_API int OstrelSetLogFile(const char* path);

/* Lines below this level are dropped by the default sinks (not by a set sink). */
OSTREL_API void OstrelSetMinimumLevel(int level);

/* The version number OstGetOstrelVer reports (default 820). */
OSTREL_API void OstrelSetVersion(uint16_t version);

/* Non-zero: OstMkClient refuses every client with a non-zero code. */
OSTREL_API void OstrelSetRefuseClients(int refuse);

#ifdef __cplusplus
}
#endif

#endif /* MORVANE_OSTREL_CONTROL_H */
