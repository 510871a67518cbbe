/*
 * Deadlines and retried register accesses shared by the SII, AL state and mailbox files.
 */
#include "ethercatmain_local.h"

#include "eclink.h"

ec_deadlinet ec_deadline(int timeout)
{
   ec_deadlinet t;
   ec_clock_now(&t);
   if (timeout < 0)
      timeout = 0;
   t.tv_sec += timeout / 1000000;
   t.tv_usec += timeout % 1000000;
   if (t.tv_usec >= 1000000)
   {
      t.tv_sec++;
      t.tv_usec -= 1000000;
   }
   return t;
}

int ec_expired(const ec_deadlinet *deadline)
{
   struct timeval now;
   ec_clock_now(&now);
   if (now.tv_sec != deadline->tv_sec)
      return now.tv_sec > deadline->tv_sec;
   return now.tv_usec >= deadline->tv_usec;
}

int ec_retried(ec_accessfn fn, uint16 ADP, uint16 ADO, uint16 length, void *data)
{
   int wkc = 0;
   for (int attempt = 0; attempt < EC_DEFAULTRETRIES; attempt++)
   {
      wkc = fn(ADP, ADO, length, data, EC_TIMEOUT_FRAME);
      if (wkc > 0)
         break;
   }
   return wkc;
}
