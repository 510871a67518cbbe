/*
 * Error texts of the master: CoE SDO abort codes, AL Status Codes and SoE error codes as text, and
 * the oldest entry of the error list rendered as one line. Offered to an application that wants to
 * show what went wrong; the master itself never prints.
 */
#ifndef ETHERCATPRINT_H
#define ETHERCATPRINT_H

#include "ethercattype.h"

/* Size of the line buffer of ec_elist2string, terminating NUL included. */
#define EC_MAXERRORNAME 127

/* The constant text for an SDO abort code, AL Status Code or SoE error code; "Unknown" for a code
 * the tables lack. Never NULL; the text must not be freed. */
const char *ec_sdoerror2string(uint32 sdoerrorcode);
const char *ec_ALstatuscode2string(uint16 ALstatuscode);
const char *ec_soeerror2string(uint16 errorcode);

/* Pop the oldest unread error and render it as one line (cut to fit the static buffer). Returns the
 * static buffer, valid until the next call, or "" when the error list is empty. Not thread-safe. */
char *ec_elist2string(void);

#endif
