/*
 * Export and calling-convention markers of the driver and of the host library.
 *
 * Both TevMain and the host library functions use the C calling convention
 * (__cdecl on 32-bit Windows): err() takes a printf-style argument list, and
 * one convention for all keeps a host's function-pointer types simple. The
 * names are exported undecorated ("TevMain", "err", ...).
 */
#ifndef MORVANE_PLATFORM_API_H
#define MORVANE_PLATFORM_API_H

#if defined(_WIN32)
#define MORVANE_CALL __cdecl
#if defined(MORVANE_BUILDING_DRIVER)
#define MORVANE_API __declspec(dllexport)
#else
#define MORVANE_API __declspec(dllimport)
#endif
#if defined(OSTREL_BUILDING_LIBRARY)
#define OSTREL_API __declspec(dllexport)
#else
#define OSTREL_API __declspec(dllimport)
#endif
#else
#define MORVANE_CALL
#define MORVANE_API __attribute__((visibility("default")))
#define OSTREL_API __attribute__((visibility("default")))
#endif

#endif /* MORVANE_PLATFORM_API_H */
