/*
 * Repair of a single slave after the bus was enumerated: give a slave that lost its station
 * address (after a power cycle or a restart) its address back once it is known to be the same
 * device, wait for a state across such a restart, and walk a slave that fell back to INIT up to
 * SAFE-OP again from its table entry.
 */
#include "ethercatconfig.h"

#include "ethercatbase.h"
#include "ethercatmain.h"
#include "ethercatmain_local.h"
#include "eclink.h"

#include <stdio.h>
#include <string.h>

/* Station address a slave holds while its identity is checked. */
#define EC_TEMPNODE 0xFFFF

/* 1 when the SII of the slave answering at EC_TEMPNODE holds the name entry `slave` got at
 * enumeration (the same rule: string 1, or the identity where the SII has no strings). The cache
 * is dropped first: it may hold the bytes of whatever answered at that position before. */
static int ec_samename(uint16 slave)
{
   const ec_slavet *s = &ec_slave[slave];
   char name[EC_MAXNAME + 1];
   uint8 failed = esifailed[slave];
   memset(esimap, 0, sizeof esimap);
   esislave = 0;
   esifailed[slave] = 0;
   if (ec_siifind(slave, ECT_SII_STRING) > 0)
      ec_siistring(name, slave, 1);
   else
      snprintf(name, sizeof name, "? M:%8.8x I:%8.8x", (unsigned)s->eep_man, (unsigned)s->eep_id);
   int same = !esifailed[slave] && strcmp(name, s->name) == 0;
   esifailed[slave] = failed;
   /* Another device's bytes must not stay cached under this entry. */
   if (!same)
   {
      memset(esimap, 0, sizeof esimap);
      esislave = 0;
   }
   return same;
}

/* 1 when the slave answering at EC_TEMPNODE is the device described by entry `slave`. The SII
 * revision is not compared: a firmware download may bring a new SII with a new revision, and the
 * device is still the one that was there. */
static int ec_sameslave(uint16 slave)
{
   const ec_slavet *s = &ec_slave[slave];
   if (ec_FPRDw(EC_TEMPNODE, ECT_REG_ALIAS, EC_TIMEOUT_FRAME) != s->aliasadr)
      return 0;
   if (ec_readeeprom(slave, ECT_SII_ID, EC_TIMEOUT_SAFE) != s->eep_id)
      return 0;
   if (ec_readeeprom(slave, ECT_SII_MANUF, EC_TIMEOUT_SAFE) != s->eep_man)
      return 0;
   return ec_samename(slave);
}

int ec_recover_slave(uint16 slave)
{
   if (slave == 0 || slave >= EC_MAXSLAVE)
      return 0;
   uint16 configadr = ec_slave[slave].configadr;
   ec_FPWRw(EC_TEMPNODE, ECT_REG_STADR, 0, EC_TIMEOUT_FRAME);
   if (ec_APWRw((uint16)(1 - slave), ECT_REG_STADR, EC_TEMPNODE, EC_TIMEOUT_FRAME) <= 0)
      return 0;
   ec_slave[slave].configadr = EC_TEMPNODE;
   ec_eeprom2master(slave);
   int result = 0;
   if (ec_sameslave(slave))
   {
      result = ec_FPWRw(EC_TEMPNODE, ECT_REG_STADR, configadr, EC_TIMEOUT_FRAME);
      if (result < 0)
         result = 0;
   }
   else
      ec_FPWRw(EC_TEMPNODE, ECT_REG_STADR, 0, EC_TIMEOUT_FRAME);
   ec_slave[slave].configadr = configadr;
   return result;
}

uint16 ec_statecheck_recover(uint16 slave, uint16 reqstate, int timeout, int restartbound,
                             ec_restartnotefn note, void *arg)
{
   if (slave == 0 || slave > ec_slavecount || slave >= EC_MAXSLAVE)
      return 0;
   ec_deadlinet deadline = ec_deadline(timeout);
   int missed = 0;
   uint16 state;
   for (;;)
   {
      int64 left = deadline - ec_clock_now();
      int look = left < EC_RECOVERPOLL ? (int)(left > 0 ? left : 0) : EC_RECOVERPOLL;
      state = ec_statecheck(slave, reqstate, look);
      if (state == reqstate || ec_expired(&deadline))
         return state;
      /* 0: nobody answered at the slave's address. */
      if (state != 0)
         continue;
      if (!missed)
      {
         /* The restart may have begun just now: it is given its whole bound from here. */
         missed = 1;
         ec_deadlinet back = ec_deadline(restartbound);
         if (back > deadline)
            deadline = back;
         if (note)
            note(arg);
      }
      if (ec_recover_slave(slave) <= 0)
         ec_clock_sleep(EC_RECOVERPAUSE);
   }
}

/* Request `state` of the slave and wait for it: the state reached. */
static uint16 ec_repair_request(uint16 slave, uint16 state)
{
   ec_FPWRw(ec_slave[slave].configadr, ECT_REG_ALCTL, state, EC_TIMEOUT_FRAME);
   return ec_statecheck(slave, state, EC_TIMEOUT_STATECHANGE);
}

int ec_reconfig_slave(uint16 slave)
{
   if (slave == 0 || slave >= EC_MAXSLAVE)
      return 0;
   ec_slavet *s = &ec_slave[slave];
   if (ec_FPWRw(s->configadr, ECT_REG_ALCTL, EC_STATE_INIT, EC_TIMEOUT_FRAME) <= 0)
      return 0;
   ec_eeprom2pdi(slave);
   uint16 state = ec_statecheck(slave, EC_STATE_INIT, EC_TIMEOUT_STATECHANGE);
   if (state != EC_STATE_INIT)
      return state;
   for (int k = 0; k < EC_MAXSM; k++)
      if (s->SM[k].StartAddr)
         ec_FPWR(s->configadr, (uint16)(ECT_REG_SM0 + 8 * k), sizeof(ec_smt), &s->SM[k],
                 EC_TIMEOUT_FRAME);
   for (int k = 0; k < s->FMMUunused && k < EC_MAXFMMU; k++)
      ec_FPWR(s->configadr, (uint16)(ECT_REG_FMMU0 + 16 * k), sizeof(ec_fmmut), &s->FMMU[k],
              EC_TIMEOUT_FRAME);
   state = ec_repair_request(slave, EC_STATE_PRE_OP);
   if (state != EC_STATE_PRE_OP)
      return state;
   return ec_repair_request(slave, EC_STATE_SAFE_OP);
}
