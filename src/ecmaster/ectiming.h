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
 * Worst cases when no reply comes at all (a dead or unplugged bus), as macros below; a run never
 * takes longer than these by more than EC_POLLINTERVAL (checked on the virtual clock). P is one
 * patient register access, EC_DEAD_PATIENT(EC_TIMEOUT_FRAME) = 100 ms; a status poll of deadline t
 * with a pause between polls runs whole rounds of P + pause until t has passed (EC_DEAD_POLL).
 *   patient exchange     EC_DEAD_PATIENT(t)       the time-out, at least EC_TIMEOUT_REPLY
 *   one attempt          t
 *   sent once            EC_DEAD_ONCE(t)          the time-out, at least EC_TIMEOUT_SAFE
 *   SII word             EC_DEAD_SIIWORD          P: the first EEPROM status poll finds nobody;
 *                                                 a read for the SII cache tries EC_SIIREADTRIES times
 *   mailbox send         EC_DEAD_MBXSEND(t)       polls for an empty mailbox until t
 *   mailbox receive      EC_DEAD_MBXRECEIVE(t)    polls for a full mailbox until t
 *   FoE packet           EC_DEAD_FOEPACKET        the request: a stale-message read and its send
 *   controller command   EC_DEAD_MCPREAD          a read and its MCP_READ_REPEATS repeats, then the
 *                                                 same for the error flags that say why
 *   AL state check       EC_DEAD_STATECHECK(t)    polls every EC_STATEPOLL until t
 *   enumeration          EC_DEAD_ENUMERATION      the slave count broadcast; nothing else is sent
 * When replies do come, a polled wait ends within its deadline plus one round, an FoE packet takes
 * a mailbox send and a mailbox receive of the caller's time-out, and the BUSY answers of an FoE
 * write add up to EC_FOE_BUSYTRIES x EC_FOE_BUSYPAUSE.
 *
 * Where the master sleeps, and when:
 *   EC_STATEPOLL      AL state check: after a poll that did not find the state
 *   EC_LOCALDELAY     mailbox send and receive: after a status poll that did not find the mailbox
 *                     empty (send) or full (receive), for time-outs above EC_LOCALDELAY
 *   EC_LOCALDELAY     EEPROM: between busy polls; after the command of a word read on its own
 *                     (x 2 after a write command), which the interface needs before it can be
 *                     done (the reads the enumeration starts on every slave at once are collected
 *                     without); after a not-acknowledged command (x 5)
 *   EC_FOE_BUSYPAUSE  FoE write: only after the slave answered BUSY
 *   EC_RECOVERPAUSE   recovery: only after a search found nobody at the slave's position
 *   MCP_RETRY_PAUSE   controller command: only before a write is sent again
 *   EC_RECOVERPOLL    the firmware writer's wait for a controller that restarts (a restart wait)
 * Every poll looks first and pauses only when it did not find what it waits for: a state or
 * mailbox that is already there costs one look and no pause. On a bus that answers at once the
 * only pauses left are those after the EEPROM read commands, about 250 per enumeration of the
 * robot's 11 slaves (bench_robot counts them).
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
/* The system clock's sleep (rawsocket.cpp) hands the last this many µs of a pause to a loop on the
 * clock instead of the kernel, which wakes a sleeping thread 10-30 µs late (more on a virtual
 * machine whose CPU halted): a tenth on top of each 200 µs EEPROM pause, and more than a pause of
 * MCP_RETRY_PAUSE itself. A pause never ends early either way. */
#define EC_SLEEPSPIN 30

/* How long after a session ended a reply still owed to it is told apart from another master's
 * (nicdrv.cpp): far above any delay a host or switch adds, short enough that a later job on a
 * lossy wire still sees another master. Only the count is at stake: no such reply is ever taken. */
#define EC_STALEREPLY 5000000

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
/* How long a controller that was just switched between its application and its boot loader may
 * be off the bus while it restarts: the robot's controllers take up to 30 s, longer than the 20 s
 * a slave is given to enter BOOT. Counted from the moment it was first missed, so that a restart
 * that begins late in a state wait is still ridden out whole. Worst case of such a wait:
 * EC_TIMEOUT_RESTART + EC_RECOVERPOLL + EC_DEAD_ROUND(EC_RECOVERPAUSE). */
#define EC_TIMEOUT_RESTART 30000000

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

/* ---- worst cases when no reply comes (see the table above) ---- */

/* The longest pause between two polls of a wait: how far a run may pass its worst case. */
#define EC_POLLINTERVAL EC_STATEPOLL

#define EC_DEAD_PATIENT(t) ((t) > EC_TIMEOUT_REPLY ? (t) : EC_TIMEOUT_REPLY)
#define EC_DEAD_ONCE(t) ((t) > EC_TIMEOUT_SAFE ? (t) : EC_TIMEOUT_SAFE)
#define EC_DEAD_ROUND(pause) (EC_DEAD_PATIENT(EC_TIMEOUT_FRAME) + (pause))
/* Whole rounds until the deadline t has passed, at least one. */
#define EC_DEAD_POLL(t, pause)                                                                     \
   (((((t) > 0 ? (t) : 1) + EC_DEAD_ROUND(pause) - 1) / EC_DEAD_ROUND(pause)) *                    \
    EC_DEAD_ROUND(pause))
#define EC_DEAD_SIIWORD EC_DEAD_PATIENT(EC_TIMEOUT_FRAME)
#define EC_DEAD_MBXSEND(t) EC_DEAD_POLL(t, 0)
#define EC_DEAD_MBXRECEIVE(t) EC_DEAD_POLL(t, EC_LOCALDELAY)
/* A send that first clears a stale message: a status read, one read of the mailbox, the send. */
#define EC_DEAD_MBXSENDFRESH(t)                                                                    \
   (EC_DEAD_PATIENT(EC_TIMEOUT_FRAME) + EC_DEAD_POLL(0, 0) + EC_DEAD_MBXSEND(t))
#define EC_DEAD_FOEPACKET (EC_DEAD_POLL(0, 0) + EC_DEAD_MBXSEND(EC_TIMEOUT_SAFE))
#define EC_DEAD_MCPREAD (2 * (1 + MCP_READ_REPEATS) * EC_DEAD_MBXSENDFRESH(MCP_TIMEOUT_SEND))
#define EC_DEAD_STATECHECK(t) EC_DEAD_POLL(t, EC_STATEPOLL)
#define EC_DEAD_ENUMERATION EC_DEAD_PATIENT(EC_TIMEOUT_SAFE)

#endif
