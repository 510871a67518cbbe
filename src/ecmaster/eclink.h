/*
 * The two seams of the EtherCAT master: the link that carries whole Ethernet frames and the clock
 * that every deadline and poll interval is measured with.
 *
 * The product uses the raw packet socket (EtherType 0x88A4) and the monotonic clock: a deadline
 * must not move when someone sets the wall clock (NTP, a laptop waking up), so wall-clock time is
 * read only for time stamps written for people (ec_clock_wall). A test installs
 * another link, and where it waits through multi-second time-outs another clock, with one call
 * before ec_init; nothing else in the master knows which is in use, and no other layer has test
 * hooks.
 */
#ifndef ECLINK_H
#define ECLINK_H

#include <stdint.h>
#include <sys/time.h>

/* One frame carrier. `port` is 0 for the primary and 1 for the secondary (redundant) port. */
typedef struct ec_linkt
{
   void *ctx;
   /* Open the carrier on interface `ifname`: a handle of 0 or more, or -1 when it cannot be opened
    * (unknown interface, missing rights). */
   int (*open)(void *ctx, const char *ifname, int port);
   /* Send one whole frame of `len` bytes: the bytes sent, or -1. */
   int (*send)(void *ctx, int handle, const void *frame, int len);
   /* Take one waiting frame into `buf` without blocking: its length (at most `size` bytes are
    * stored), 0 when none is waiting, -1 on error. */
   int (*recv)(void *ctx, int handle, void *buf, int size);
   void (*close)(void *ctx, int handle);
   /* Optional (NULL: the master polls without sleeping). Sleep until a frame may be waiting on
    * `handle` or `usec` µs have passed: 1 when a frame may be waiting, 0 when the time passed,
    * -1 on error. */
   int (*wait)(void *ctx, int handle, int usec);
} ec_linkt;

/* The clock of every deadline and short sleep. */
typedef struct ec_clockt
{
   void *ctx;
   /* Microseconds since some fixed point; never goes back and never jumps. */
   int64_t (*now)(void *ctx);
   void (*sleep)(void *ctx, uint32_t usec);
} ec_clockt;

/* Install a link or a clock; NULL restores the product's raw socket or system clock. The table is
 * copied, so the caller's record need not outlive the call. */
void ec_setlink(const ec_linkt *link);
void ec_setclock(const ec_clockt *clock);

/* Used by the master's layers instead of socket calls, clock readings and usleep. */
const ec_linkt *ec_link(void);
/* Microseconds on the installed clock (the monotonic clock in the product). */
int64_t ec_clock_now(void);
void ec_clock_sleep(uint32_t usec);
/* The wall clock, for time stamps that people read (the error list); never for a deadline. */
void ec_clock_wall(struct timeval *tv);
/* Sleep in the link until a frame may be waiting on `handle` or `usec` µs have passed; returns at
 * once when the link cannot wait. */
void ec_link_wait(int handle, int usec);

#endif
