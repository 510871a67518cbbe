/*
 * Distributed clocks: measure how long a frame takes through the bus, give every slave with a
 * clock its system time offset and propagation delay, chain those slaves in bus order (which makes
 * the process data cycle read the reference clock, the first of them), and program a slave's
 * SYNC0 and SYNC1 outputs.
 *
 * The measurement relies on the topology that the enumeration found (topology, activeports,
 * parent) and must not overlap with other traffic, which would overwrite the latched receive
 * times. All times are nanoseconds of the slaves' clocks.
 */
#ifndef ETHERCATDC_H
#define ETHERCATDC_H

#include "ethercattype.h"

/* Lead time of a SYNC start: the first pulse lies at least this far behind the slave's system time
 * as read, so that the activation surely arrives before it. */
#define EC_DCSTARTLEAD 100000000LL

/* Activation bytes of the SYNC unit: cyclic operation with SYNC0, and with SYNC0 and SYNC1. */
#define EC_DCACT_SYNC0 0x03
#define EC_DCACT_SYNC01 0x07

/* Measure the bus and set the clocks of all slaves: receive times, entry ports, parent ports,
 * propagation delays (written to each slave's system time delay), system time offsets and the
 * DCnext/DCprevious chain. Returns TRUE when at least one slave has a clock (ec_slave[0] and
 * group 0 then name the first in DCnext and have hasdc set), FALSE when none has; a bus without
 * clocks is left as it was. Datagram results are not checked: a slave that does not answer keeps
 * what it had and the computation goes on. */
boolean ec_configdc(void);

/* Program SYNC0 of `slave`: cycle CyclTime, first pulse at the first whole cycle at least 100 ms
 * ahead of the slave's system time plus CyclShift (with CyclTime 0: 100 ms plus CyclShift ahead).
 * The output is switched on when act is TRUE, else left off. A slave number that names no
 * slave of the table is refused and nothing is sent. */
void ec_dcsync0(uint16 slave, boolean act, uint32 CyclTime, uint32 CyclShift);

/* The same for SYNC0 (cycle CyclTime0, which also sets the start) and SYNC1 (cycle CyclTime1). */
void ec_dcsync01(uint16 slave, boolean act, uint32 CyclTime0, uint32 CyclTime1, uint32 CyclShift);

/* The receive time latched at `port` (0..3) of `slave` by the last ec_configdc; 0 for any other
 * port number or a slave number outside the table. */
int32 ec_porttime(uint16 slave, uint8 port);

/* The open port that frames pass just before `port` (frames go round 0, 3, 1, 2, 0); `port` itself
 * when none of the others is open, or when `port` is above 3 or the slave number outside the
 * table. */
uint8 ec_prevport(uint16 slave, uint8 port);

/* Take one still unused open port of `parent` (in the order 3, 1, 2, 0) for the next child and
 * mark it used: the port, or 0 when none is left or the slave number is outside the table. */
uint8 ec_parentport(uint16 parent);

#endif
