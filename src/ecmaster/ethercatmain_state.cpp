/*
 * AL state control: read every slave's AL Status, request a state through AL Control, and wait
 * until a slave (or the whole bus) reports the state asked for.
 */
#include "ethercatmain.h"

#include <string.h>

#include "eclink.h"
#include "ethercatbase.h"
#include "ethercatmain_local.h"

/* Slaves that the table can hold of those counted. */
static int ec_tableslaves(void)
{
   return ec_slavecount < EC_MAXSLAVE ? ec_slavecount : EC_MAXSLAVE - 1;
}

/* One look at AL Status: the whole word (0 when nobody answered). A single slave's status code is
 * noted in its entry. */
static uint16 ec_alstatus(uint16 slave)
{
   if (slave == 0)
   {
      uint16 word = 0;
      ec_BRD(0, ECT_REG_ALSTAT, sizeof word, &word, EC_TIMEOUT_FRAME);
      return word;
   }
   ec_alstatust sl;
   memset(&sl, 0, sizeof sl);
   ec_FPRD(ec_slave[slave].configadr, ECT_REG_ALSTAT, sizeof sl, &sl, EC_TIMEOUT_FRAME);
   ec_slave[slave].ALstatuscode = sl.alstatuscode;
   return sl.alstatus;
}

int ec_readstate(void)
{
   uint16 lowest = 0xFF;
   ec_slave[0].ALstatuscode = 0;
   for (int slave = 1; slave <= ec_tableslaves(); slave++)
   {
      uint16 status = ec_alstatus((uint16)slave);
      ec_slave[slave].state = status;
      if (status < lowest)
         lowest = status;
      ec_slave[0].ALstatuscode |= ec_slave[slave].ALstatuscode;
   }
   ec_slave[0].state = lowest;
   return lowest;
}

int ec_writestate(uint16 slave)
{
   if (!ec_intable(slave))
      return 0;
   if (slave == 0)
   {
      uint16 state = ec_slave[0].state;
      ec_BWR(0, ECT_REG_ALCTL, sizeof state, &state, EC_TIMEOUT_FRAME);
      return 0;
   }
   ec_FPWRw(ec_slave[slave].configadr, ECT_REG_ALCTL, ec_slave[slave].state, EC_TIMEOUT_FRAME);
   return 0;
}

uint16 ec_statecheck(uint16 slave, uint16 reqstate, int timeout)
{
   if (slave > ec_slavecount || !ec_intable(slave))
      return 0;
   ec_deadlinet deadline = ec_deadline(timeout);
   uint16 word;
   uint16 state;
   do
   {
      word = ec_alstatus(slave);
      state = word & 0x0F;
      if (state != reqstate)
         ec_clock_sleep(EC_STATEPOLL);
   } while (state != reqstate && !ec_expired(&deadline));
   ec_slave[slave].state = word;
   return state;
}
