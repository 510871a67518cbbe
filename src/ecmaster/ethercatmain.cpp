/*
 * Deadlines and retried register accesses shared by the SII, AL state and mailbox files.
 */
#include "ethercatmain_local.h"

#include "eclink.h"

ec_deadlinet ec_deadline(int timeout)
{
   return ec_clock_now() + (timeout < 0 ? 0 : timeout);
}

int ec_expired(const ec_deadlinet *deadline)
{
   return ec_clock_now() >= *deadline;
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
