/*
 * Helpers shared by the files of the SII, AL state and mailbox layer: deadlines on the master's
 * clock and register accesses that are repeated while nobody answers. Not part of the master's
 * public interface.
 */
#ifndef ETHERCATMAIN_LOCAL_H
#define ETHERCATMAIN_LOCAL_H

#include "ethercattype.h"

/* A point in time on the master's clock, in microseconds. */
typedef int64 ec_deadlinet;

/* The time `timeout` microseconds from now (a negative timeout counts as 0). */
ec_deadlinet ec_deadline(int timeout);
/* 1 once the deadline has been reached, else 0. */
int ec_expired(const ec_deadlinet *deadline);

/* A configured-address or auto-increment read or write primitive. */
typedef int (*ec_accessfn)(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout);

/* Run `fn` with the datagram time-out until some slave answers, at most EC_DEFAULTRETRIES times:
 * the last working counter. */
int ec_retried(ec_accessfn fn, uint16 ADP, uint16 ADO, uint16 length, void *data);

/* ec_readeepromFP that tells a failed read (0) from a word group of zeros (1), tried up to
 * EC_SIIREADTRIES times; *data is 0 on failure. */
int ec_readeepromFP_checked(uint16 configadr, uint16 eeproma, int timeout, uint64 *data);

/* 1 when `slave` names an entry of ec_slave, else 0. */
static inline int ec_intable(uint16 slave)
{
   return slave < EC_MAXSLAVE;
}

#endif
