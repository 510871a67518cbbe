/*
 * The master's timing model: every interval, floor and try count of the EtherCAT master and of the
 * controller protocol, each with its reason, and the worst case of each primitive. Times are in
 * microseconds on the master's monotonic clock (eclink.h); names ending in TRIES, RETRIES or
 * REPEATS are counts.
 *
 * Kinds of exchange (nicdrv.h), chosen at the call site:
 *  - patient: a plain time-out such as EC_TIMEOUT_FRAME. The frame is re-sent every
 *    EC_RETRYINTERVAL while no reply came, for the time-out but at least EC_TIMEOUT_REPLY, since a
 *    loaded host or switch may hold a reply back for milliseconds and a frame that does come back
 *    must not be reported lost. For reads and for writes that may land twice.
 *  - one attempt: EC_ONEATTEMPT(t). The frame is sent once and awaited t µs, for a caller that
 *    polls on its own or does not care about the reply.
 *  - sent once (ec_FPWRonce, ec_APWRonce): never repeated, awaited at least EC_TIMEOUT_SAFE, for a
 *    write that must not land twice (a mailbox message, an EEPROM command).
 *
 * Worst cases, when every reply is lost (a dead or unplugged bus), each within one poll interval:
 *   patient exchange        EC_WORST_PATIENT(t)      100 ms for EC_TIMEOUT_FRAME
 *   one attempt             t
 *   sent once               EC_WORST_ONCE(t)         20 ms for EC_TIMEOUT_FRAME
 *   retried access          EC_WORST_RETRIED         4 x 100 ms (EC_DEFAULTRETRIES patient tries)
 *   SII word read           EC_WORST_SIIWORD         3 x 100 ms: each try ends at its first busy poll
 *   mailbox send            EC_WORST_MBXSEND(t)      t (empty-mailbox polls) + 100 ms, at least 200 ms
 *   mailbox receive         EC_WORST_MBXRECEIVE(t)   t + 100 ms
 *   FoE packet              EC_WORST_MBXSEND + EC_WORST_MBXRECEIVE of the caller's time-out
 *   controller command      EC_WORST_MCPCOMMAND      7 x (send + receive): a read and its repeats
 *   AL state check          EC_WORST_STATECHECK(t)   t + 100 ms
 *   enumeration             EC_WORST_PATIENT(EC_TIMEOUT_SAFE): the slave count broadcast; with
 *                           nobody answering nothing else is sent
 * With replies coming, a wait polled on a status (EEPROM busy, mailbox full, AL state) ends at its
 * deadline plus the one exchange that was in flight then: t + EC_WORST_PATIENT(EC_TIMEOUT_FRAME).
 */
#ifndef ECTIMING_H
#define ECTIMING_H

/* ---- time-outs that callers pass ---- */

/* One datagram round trip: the time-out of every register access of the enumeration, state
 * control, mailbox and SII code. A patient exchange re-sends its frame this often. */
#define EC_TIMEOUT_FRAME 500
/* How long a patient exchange awaits a frame that may come back. */
#define EC_TIMEOUT_REPLY 100000
/* The slave count broadcast, every SII word access, the mailbox send; the floor of a frame that is
 * sent once. */
#define EC_TIMEOUT_SAFE 20000
/* Mailbox receive of the CoE and SoE replies the master itself waits for. */
#define EC_TIMEOUT_MBXRX 700000
/* Waiting for an AL state change. */
#define EC_TIMEOUT_STATECHANGE 2000000

/* A time-out marked as one attempt (see above). The mark is a bit no real time-out reaches
 * (about 1 070 s), so a marked value can pass through the int time-outs of the primitives. */
#define EC_ONEATTEMPT_MARK 0x40000000
#define EC_ONEATTEMPT(t) ((int)(EC_ONEATTEMPT_MARK | (t)))

/* ---- the port (nicwait.cpp) ---- */

/* A patient exchange sends its frame again after this long without a reply. */
#define EC_RETRYINTERVAL EC_TIMEOUT_FRAME
/* A wait polls the port this long before it sleeps in the link: above the round trip of a loaded
 * bus of a few hundred slaves, well below the retry interval. */
#define EC_SPINTIME 100
/* How long a wait goes on for a real reply after an exact copy of the request came back: an echo
 * of the network comes a bus round trip before the bus's answer, and an unanswered read of an
 * empty mailbox is such a copy too and must not cost the mailbox's short deadlines much. */
#define EC_COPYGRACE EC_SPINTIME

/* ---- SII EEPROM and AL state (ethercatmain*.cpp) ---- */

/* Sleep between EEPROM and mailbox polls and after a refused EEPROM command. */
#define EC_LOCALDELAY 200
/* Pause between two AL Status polls. */
#define EC_STATEPOLL 1000
/* How often a register access of the SII, state and mailbox layer is tried while nobody answers. */
#define EC_DEFAULTRETRIES 4
/* How often an SII word is read before the read counts as failed. */
#define EC_SIIREADTRIES 3
/* Attempts of one EEPROM command while the slave answers "not acknowledged". */
#define EC_EEPNACKTRIES 3
/* How often ec_mbxsendcounted writes a message whose landing it cannot see. */
#define EC_MBXSENDTRIES 4

/* ---- recovery of a slave that dropped off (ethercatconfig_repair.cpp) ---- */

/* One look for the state at a time, so that a slave that went missing is searched for between
 * looks. */
#define EC_RECOVERPOLL 100000
/* Pause after a search that found nobody at the slave's position. */
#define EC_RECOVERPAUSE 20000

/* ---- FoE (ethercatfoe.cpp) ---- */

/* A write rides out BUSY answers for about EC_FOE_BUSYTRIES x EC_FOE_BUSYPAUSE (10 s). */
#define EC_FOE_BUSYPAUSE 10000
#define EC_FOE_BUSYTRIES 1000

/* ---- the motor controllers' command mailbox (zuvian*.cpp) ---- */

/* Mailbox send and receive of one command record. */
#define MCP_TIMEOUT_SEND 500
#define MCP_TIMEOUT_RECEIVE 1000
/* Pause before a read is repeated. */
#define MCP_RETRY_PAUSE 10
/* A read that got no reply is repeated this many more times. */
#define MCP_READ_REPEATS 6
/* A write that is not confirmed is sent again at most this many times. */
#define MCP_WRITE_RETRIES 10

/* ---- worst cases (see the table above) ---- */

#define EC_WORST_PATIENT(t) ((t) > EC_TIMEOUT_REPLY ? (t) : EC_TIMEOUT_REPLY)
#define EC_WORST_ONCE(t) ((t) > EC_TIMEOUT_SAFE ? (t) : EC_TIMEOUT_SAFE)
#define EC_WORST_RETRIED (EC_DEFAULTRETRIES * EC_WORST_PATIENT(EC_TIMEOUT_FRAME))
#define EC_WORST_SIIWORD (EC_SIIREADTRIES * EC_WORST_PATIENT(EC_TIMEOUT_FRAME))
#define EC_WORST_MBXSEND(t)                                                                        \
   (((t) > EC_WORST_PATIENT(EC_TIMEOUT_FRAME) ? (t) : EC_WORST_PATIENT(EC_TIMEOUT_FRAME)) +        \
    EC_WORST_PATIENT(EC_TIMEOUT_FRAME))
#define EC_WORST_MBXRECEIVE(t) ((t) + EC_WORST_PATIENT(EC_TIMEOUT_FRAME))
#define EC_WORST_STATECHECK(t) ((t) + EC_WORST_PATIENT(EC_TIMEOUT_FRAME))
#define EC_WORST_MCPCOMMAND                                                                        \
   ((1 + MCP_READ_REPEATS) *                                                                       \
    (EC_WORST_MBXSEND(MCP_TIMEOUT_SEND) + EC_WORST_MBXRECEIVE(MCP_TIMEOUT_RECEIVE) + MCP_RETRY_PAUSE))

#endif
