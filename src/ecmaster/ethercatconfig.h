/*
 * Bus enumeration: count the slaves, give each a station address, read identity and mailbox layout
 * from its SII (or from the built-in list), program the mailbox SyncManagers and ask every slave
 * for PRE-OP. Also the two repair operations for a single slave.
 *
 * The process data mapping that usually follows lives in ethercatconfigmap.h.
 */
#ifndef ETHERCATCONFIG_H
#define ETHERCATCONFIG_H

#include "ethercattype.h"

/* ec_config_init's answer to a bus with more slaves than the table holds (EC_MAXSLAVE - 1). */
#define EC_TOOMANYSLAVES (-4)
/* ec_config_init's and ec_config's answer when a slave's SII could not be read (esifailed). */
#define EC_SIIFAILED (-5)

/* Enumerate the bus and bring every slave towards PRE-OP (not waited for). The number of slaves
 * found; 0 when no slave answered; -1/-2 when the counting frame did not come back;
 * EC_TOOMANYSLAVES when more than EC_MAXSLAVE - 1 slaves answered (the bus is then left alone and
 * ec_slavecount is 0); EC_SIIFAILED when an SII read failed (the table then holds what could be
 * read, which must not be used). usetable != 0 consults ec_configlist before the SII. */
int ec_config_init(uint8 usetable);
/* Row of ec_configlist whose vendor and product match (1..22), 0 when none does. */
int ec_findconfig(uint32 man, uint32 id);
/* Give the slave now at bus position `slave` its configured station address back, if it is the
 * device configured there (the same alias, vendor, product and SII name as in its entry): the
 * working counter of that write (> 0), else 0. */
int ec_recover_slave(uint16 slave);
/* Told once when a slave that a state wait watches is first missed at its address and position. */
typedef void (*ec_restartnotefn)(void *arg);
/* ec_statecheck for a slave that may restart on the way: a controller that switches between its
 * application and its boot loader can drop off the bus for seconds and come back without its
 * station address. While the slave does not answer at its address, it is looked for at its bus
 * position and given its address back (ec_recover_slave). Once it has been missed, the wait lasts
 * at least `restartbound` µs from that moment (0: only the time-out), and `note` (when set) is told
 * with `arg`. The state reached, 0 when the slave never answered again. */
uint16 ec_statecheck_recover(uint16 slave, uint16 reqstate, int timeout, int restartbound,
                             ec_restartnotefn note, void *arg);
/* Reprogram one slave from its table entry and walk it from INIT up to SAFE-OP: the state reached,
 * or 0 when the slave did not take the INIT request. */
int ec_reconfig_slave(uint16 slave);

#endif
