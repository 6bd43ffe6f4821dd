/*
 * Control surface of the virtual camera: a simulated 1394 driver and camera that
 * stands where the kernel driver and the real camera stand. Exported by builds
 * of the library that carry it (tests, tools, newcomers on machines without the
 * hardware).
 *
 * Configurations are strings of space-separated key=value words. Unknown keys and
 * malformed values are refused (negative result), never ignored.
 */
#ifndef UCAP_VCAM_H
#define UCAP_VCAM_H

#include "ucap.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Detaches every virtual camera and clears every fault; returns 0. */
UCAP_API int ucap_vcam_reset(void);
/* Attaches one camera; returns its id (>= 0) or a negative value for a bad configuration. */
UCAP_API int ucap_vcam_attach(const char *config);
/* Unplugs a camera; its open handles start failing. 0, or negative for an unknown id. */
UCAP_API int ucap_vcam_detach(int id);
/* Changes settings or faults of an attached camera. 0, or negative. */
UCAP_API int ucap_vcam_set(int id, const char *config);
/* Fires a bus reset: completes every pending bus-reset notification. Returns 0. */
UCAP_API int ucap_vcam_bus_reset(void);
/* Copies the register trace (lines "W F0F00144 010200C0\n") into buf (zero-terminated,
 * cut to size) and clears it; returns the number of bytes the whole trace needs. */
UCAP_API int ucap_vcam_trace(int id, char *buf, int size);

#ifdef __cplusplus
}
#endif

#endif /* UCAP_VCAM_H */
