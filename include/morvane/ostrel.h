/*
 * The host library (OSTREL) functions the driver imports. A real host supplies
 * its own library; the project ships a stand-in with the same four functions.
 *
 * On Linux the stand-in versions its symbols (OSTREL_1.0) so that the driver's
 * reference to err() can never bind to the C library's err(), which exits.
 *
 * What err() receives from the driver:
 *   - level: MORVANE_LOG_TRACE (8) or MORVANE_LOG_OPERATOR (32), no other.
 *     32 is what an operator must see: the port opened or not at ColdStart,
 *     ColdStart's time-out warning, every message about the channel file,
 *     the failures of CloseCom, ReOpenCom and ChangeTevParams, and a block
 *     read above 4096 bytes. Everything else (refused addresses, refused or
 *     failed transfers with their attempts, parse errors) is 8.
 *   - format: a printf-style format with its arguments (%s, %d, %u, %c,
 *     %X, %02X); one line per call, no line end. Every line begins
 *     "ZIDIV> " (e.g. "ZIDIV> DoRead() error RX %s header ack, retry %d"),
 *     except ColdStart's version line, which begins "TEVYY> ".
 *   - It is called on the thread that called TevMain, several channels'
 *     threads at once included, and during an exchange at the raised thread
 *     priority the exchange runs at: keep it short and thread-safe. Its
 *     result is ignored.
 *
 * The C library's <err.h> declares an err() of its own (one that exits), and
 * the two declarations cannot meet in one file. On POSIX systems this header
 * therefore declares err only to the driver and the host library themselves
 * (built with MORVANE_BUILDING_DRIVER or OSTREL_BUILDING_LIBRARY) and to a
 * file that defines MORVANE_OSTREL_ERR_NAME before including it: a host file
 * that includes <err.h> simply does not define it. The driver binds to the
 * versioned symbol when it is linked, so the host's own err() calls still
 * reach the C library, as long as the host does not link -lostrel itself
 * (both are the symbol err; the first library on the link line supplies it).
 * Windows has no <err.h>: there err is always declared.
 */
#ifndef MORVANE_OSTREL_H
#define MORVANE_OSTREL_H

#include <stdint.h>

#include "morvane/platform_api.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One log line (no line end) at a level (8 trace, 32 operator). Result ignored. */
#if defined(_WIN32) || defined(MORVANE_BUILDING_DRIVER) || defined(OSTREL_BUILDING_LIBRARY) || \
    defined(MORVANE_OSTREL_ERR_NAME)
OSTREL_API int MORVANE_CALL err(int level, const char* format, ...);
#endif

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
