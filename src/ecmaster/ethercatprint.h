/*
 * Error texts of the master: CoE SDO abort codes, AL Status Codes and SoE error codes as text, and
 * the oldest entry of the error list rendered as one line. Offered to an application that wants to
 * show what went wrong; the master itself never prints.
 */
#ifndef ETHERCATPRINT_H
#define ETHERCATPRINT_H

#include <stddef.h>

#include "ethercattype.h"

/* Size of the line buffer of ec_elist2string, terminating NUL included. */
#define EC_MAXERRORNAME 127

/* The constant text for an SDO abort code, AL Status Code or SoE error code; "Unknown" for a code
 * the tables lack. Never NULL; the text must not be freed. */
const char *ec_sdoerror2string(uint32 sdoerrorcode);
const char *ec_ALstatuscode2string(uint16 ALstatuscode);
const char *ec_soeerror2string(uint16 errorcode);

/* An AL Status Code with the master's text for it, "0x0011 (Invalid requested state change)",
 * written into `buf` of `size` bytes (cut to fit, always terminated when size > 0). Returns buf.
 * Every place that names a refused state names it this way. */
char *ec_ALstatuscode2text(uint16 ALstatuscode, char *buf, size_t size);

/* Pop the oldest unread error and render it as one line (cut to fit the static buffer). Returns the
 * static buffer, valid until the next call, or "" when the error list is empty. Not thread-safe. */
char *ec_elist2string(void);

#endif
