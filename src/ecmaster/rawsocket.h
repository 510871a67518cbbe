/*
 * The product's carriers behind the link and clock seams: the raw packet socket for EtherCAT
 * frames and the system clock. eclink.cpp falls back to these when no other link or clock is
 * installed.
 */
#ifndef RAWSOCKET_H
#define RAWSOCKET_H

#include "eclink.h"

/* The raw packet socket link (PF_PACKET, EtherType 0x88A4); never NULL. Its close returns at
 * once: a thread of its own closes the socket, which takes the kernel some milliseconds; at most
 * RAWSOCKET_CLOSING_MAX sockets wait for that at any time, beyond which close waits itself. */
#define RAWSOCKET_CLOSING_MAX 4
const ec_linkt *ec_rawsocket_link(void);

/* The monotonic clock (CLOCK_MONOTONIC, nanosleep); never NULL. */
const ec_clockt *ec_system_clock(void);

#endif
