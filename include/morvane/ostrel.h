/*
 * The host library (OSTREL) functions the driver imports. A real host supplies
 * its own library; the project ships a stand-in with the same four functions.
 *
 * On Linux the stand-in versions its symbols (OSTREL_1.0) so that the driver's
 * reference to err() can never bind to the C library's err(), which exits.
 */
#ifndef MORVANE_OSTREL_H
#define MORVANE_OSTREL_H

#include <stdint.h>

#include "morvane/platform_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One log line (no line end) at a level (8 trace, 32 operator). Result ignored. */
OSTREL_API int MORVANE_CALL err(int level, const char* format, ...);

/* Creates a host client; 0 means created and *client_id filled. */
OSTREL_API uint16_t MORVANE_CALL OstMkClient(const char* name, int arg_one, int arg_zero,
                                             uint8_t* client_id);

/* Fills *version with the host's version number; buffer takes 100 bytes. */
OSTREL_API int MORVANE_CALL OstGetOstrelVer(uint8_t client_id, uint16_t* version, char* buffer);

/* Removes a client made by OstMkClient. */
OSTREL_API int MORVANE_CALL OstRmClient(uint8_t client_id);

#ifdef __cplusplus
}
#endif

#endif /* MORVANE_OSTREL_H */
