/*
 * The link and clock in use by the master. Both start as the product's raw socket and system
 * clock; a test installs its own before ec_init. The records are copied so that a caller's
 * temporary can be passed.
 */
#include "eclink.h"

#include <stddef.h>

#include "rawsocket.h"

static ec_linkt current_link;
static ec_clockt current_clock;
static int link_installed;
static int clock_installed;

void ec_setlink(const ec_linkt *link)
{
   if (link == NULL || link->open == NULL || link->send == NULL || link->recv == NULL ||
       link->close == NULL)
   {
      link_installed = 0;
      return;
   }
   current_link = *link;
   link_installed = 1;
}

void ec_setclock(const ec_clockt *clock)
{
   if (clock == NULL || clock->now == NULL || clock->sleep == NULL)
   {
      clock_installed = 0;
      return;
   }
   current_clock = *clock;
   clock_installed = 1;
}

const ec_linkt *ec_link(void)
{
   return link_installed ? &current_link : ec_rawsocket_link();
}

int64_t ec_clock_now(void)
{
   const ec_clockt *clock = clock_installed ? &current_clock : ec_system_clock();
   return clock->now(clock->ctx);
}

void ec_clock_wall(struct timeval *tv)
{
   gettimeofday(tv, NULL);
}

void ec_clock_sleep(uint32_t usec)
{
   const ec_clockt *clock = clock_installed ? &current_clock : ec_system_clock();
   clock->sleep(clock->ctx, usec);
}

void ec_link_wait(int handle, int usec)
{
   const ec_linkt *link = ec_link();
   if (link->wait != NULL && handle >= 0 && usec > 0)
      (void)link->wait(link->ctx, handle, usec); /* the caller reads the port either way */
}
