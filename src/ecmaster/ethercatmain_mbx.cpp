/*
 * Mailbox transport: one message to a slave through its write mailbox (SyncManager 0) and one
 * message back through its read mailbox (SyncManager 1), with the repeat request that recovers a
 * reply lost on the wire, and CoE emergencies taken out of the reply stream into the error list.
 *
 * The transport does not interpret the messages it carries (the controller command protocol sends
 * 8 raw bytes without a mailbox header); only an emergency is recognised, and only when the slave
 * delivered all of it.
 */
#include "ethercatmain.h"

#include <string.h>

#include "eclink.h"
#include "ethercatbase.h"
#include "ethercatmain_local.h"

/* Size of a CoE emergency and what its mailbox header must at least announce. */
#define EC_EMCYSIZE ((int)sizeof(ec_emcyt))
#define EC_EMCYDATA (EC_EMCYSIZE - (int)sizeof(ec_mbxheadert))

/* 0 is not a counter (it means "none" to the slave), also not after a wrap of a stray value. */
uint8 ec_nextmbxcnt(uint8 cnt)
{
   cnt++;
   if (cnt > 7 || cnt == 0)
      cnt = 1;
   return cnt;
}

void ec_clearmbx(ec_mbxbuft *Mbx)
{
   if (Mbx)
      memset(Mbx, 0, sizeof *Mbx);
}

int ec_mbxempty(uint16 slave, int timeout)
{
   if (!ec_intable(slave))
      return 0;
   ec_deadlinet deadline = ec_deadline(timeout);
   uint8 smstat;
   int wkc;
   do
   {
      smstat = 0;
      wkc = ec_FPRD(ec_slave[slave].configadr, ECT_REG_SM0STAT, sizeof smstat, &smstat,
                    EC_TIMEOUT_FRAME);
      if ((smstat & EC_SMSTAT_MBXFULL) && timeout > EC_LOCALDELAY)
         ec_clock_sleep(EC_LOCALDELAY);
   } while ((wkc <= 0 || (smstat & EC_SMSTAT_MBXFULL)) && !ec_expired(&deadline));
   return (wkc > 0 && !(smstat & EC_SMSTAT_MBXFULL)) ? 1 : 0;
}

int ec_mbxwindowok(uint16 offset, uint16 length)
{
   return offset >= EC_PROCESSRAM && (uint32)offset + length <= 0x10000u;
}

/* A mailbox longer than the caller's buffer cannot be moved without reading or writing past it;
 * such a slave's mailbox is refused rather than cut, since a shorter write would never make the
 * slave see its mailbox as full. */
static int ec_mbxusable(uint16 len)
{
   return len > 0 && len <= EC_MAXMBX;
}

/* A message must reach the slave once: a second copy of a write would be a second request. So the
 * write is never repeated here, and when its reply is lost the mailbox tells what happened: it was
 * empty before, so a full mailbox now is this message. An empty one leaves it open, since a slave
 * may already have taken the message out. */
static int ec_mbxwrite(uint16 slave, ec_mbxbuft *mbx)
{
   uint16 configadr = ec_slave[slave].configadr;
   int wkc =
      ec_FPWRonce(configadr, ec_slave[slave].mbx_wo, ec_slave[slave].mbx_l, mbx, EC_TIMEOUT_FRAME);
   if (wkc >= 0)
      return wkc;
   uint8 smstat = 0;
   if (ec_FPRD(configadr, ECT_REG_SM0STAT, sizeof smstat, &smstat, EC_TIMEOUT_FRAME) > 0 &&
       (smstat & EC_SMSTAT_MBXFULL))
      return 1;
   return wkc;
}

int ec_mbxsend(uint16 slave, ec_mbxbuft *mbx, int timeout)
{
   if (!mbx || !ec_intable(slave) || !ec_mbxusable(ec_slave[slave].mbx_l))
      return 0;
   if (!ec_mbxempty(slave, timeout))
      return 0;
   return ec_mbxwrite(slave, mbx);
}

int ec_mbxsendfresh(uint16 slave, ec_mbxbuft *mbx, ec_mbxbuft *scratch, int timeout)
{
   if (!mbx || !scratch || !ec_intable(slave) || !ec_mbxusable(ec_slave[slave].mbx_l))
      return 0;
   /* SyncManager 0's status through SyncManager 1's: one read tells both whether a message
    * waits and whether the write mailbox is free. */
   uint8 status[ECT_REG_SM1STAT - ECT_REG_SM0STAT + 1];
   memset(status, 0, sizeof status);
   int wkc =
      ec_FPRD(ec_slave[slave].configadr, ECT_REG_SM0STAT, sizeof status, status, EC_TIMEOUT_FRAME);
   int writefull = wkc <= 0 || (status[0] & EC_SMSTAT_MBXFULL);
   int readfull = wkc <= 0 || (status[sizeof status - 1] & EC_SMSTAT_MBXFULL);
   if (readfull && ec_mbxusable(ec_slave[slave].mbx_rl))
      (void)ec_mbxreceive(slave, scratch, 0); /* whatever waits is stale: dropped */
   if (writefull && !ec_mbxempty(slave, timeout))
      return 0;
   return ec_mbxwrite(slave, mbx);
}

int ec_mbxsendcounted(uint16 slave, ec_mbxbuft *mbx, int timeout)
{
   int wkc = ec_mbxsend(slave, mbx, timeout);
   for (int repeat = 1; wkc < 0 && repeat < EC_MBXSENDTRIES; repeat++)
      wkc = ec_mbxsend(slave, mbx, timeout);
   return wkc;
}

/* Poll the read mailbox status word until it reports a message or the deadline passes: 1 when a
 * message waits. *smstat keeps the last word read. */
static int ec_mbxwaitfull(uint16 slave, uint16 *smstat, int timeout, const ec_deadlinet *deadline)
{
   int wkc;
   do
   {
      *smstat = 0;
      wkc = ec_FPRD(ec_slave[slave].configadr, ECT_REG_SM1STAT, sizeof *smstat, smstat,
                    EC_TIMEOUT_FRAME);
      if (!(*smstat & EC_SMSTAT_MBXFULL) && timeout > EC_LOCALDELAY)
         ec_clock_sleep(EC_LOCALDELAY);
   } while ((wkc <= 0 || !(*smstat & EC_SMSTAT_MBXFULL)) && !ec_expired(deadline));
   return (wkc > 0 && (*smstat & EC_SMSTAT_MBXFULL)) ? 1 : 0;
}

/* Ask the slave to post its last message again after a read that did not come back. */
static void ec_mbxrepeat(uint16 slave, uint16 *smstat, int timeout, const ec_deadlinet *deadline)
{
   uint16 configadr = ec_slave[slave].configadr;
   *smstat ^= EC_SMSTAT_REPEAT;
   uint16 word = *smstat;
   ec_FPWR(configadr, ECT_REG_SM1STAT, sizeof word, &word, EC_TIMEOUT_FRAME);
   uint8 wanted = (uint8)((*smstat & EC_SMSTAT_REPEAT) >> 8);
   uint8 contr;
   int wkc;
   do
   {
      contr = 0;
      wkc = ec_FPRD(configadr, ECT_REG_SM1CONTR, sizeof contr, &contr, EC_TIMEOUT_FRAME);
   } while ((wkc <= 0 || (contr & EC_SMCONTR_REPEATACK) != wanted) && !ec_expired(deadline));
   uint16 status;
   ec_mbxwaitfull(slave, &status, timeout, deadline);
}

/* 1 when the message read is a complete CoE emergency. */
static int ec_isemergency(const ec_mbxbuft *mbx, uint16 mbxlength)
{
   ec_emcyt emcy;
   if (mbxlength < EC_EMCYSIZE)
      return 0;
   memcpy(&emcy, mbx, sizeof emcy);
   if ((emcy.MbxHeader.mbxtype & 0x0F) != ECT_MBXT_COE)
      return 0;
   if ((emcy.CANOpen >> 12) != ECT_COES_EMERGENCY)
      return 0;
   return emcy.MbxHeader.length >= EC_EMCYDATA;
}

static void ec_recordemergency(uint16 slave, const ec_mbxbuft *mbx)
{
   ec_emcyt emcy;
   memcpy(&emcy, mbx, sizeof emcy);
   ec_mbxemergencyerror(slave, emcy.ErrorCode, emcy.ErrorReg, emcy.bData, emcy.w1, emcy.w2);
}

/* After an emergency the loop waits for the next message before reading again: reading the then
 * empty mailbox would fail and trigger a repeat request, which makes the slave post the emergency
 * a second time. */
int ec_mbxreceive(uint16 slave, ec_mbxbuft *mbx, int timeout)
{
   if (!mbx || !ec_intable(slave))
      return 0;
   uint16 mbxro = ec_slave[slave].mbx_ro;
   uint16 mbxl = ec_slave[slave].mbx_rl;
   if (!ec_mbxusable(mbxl))
      return 0;
   ec_deadlinet deadline = ec_deadline(timeout);
   uint16 smstat;
   if (!ec_mbxwaitfull(slave, &smstat, timeout, &deadline))
      return 0;
   int wkc;
   for (;;)
   {
      wkc = ec_FPRD(ec_slave[slave].configadr, mbxro, mbxl, mbx, EC_TIMEOUT_FRAME);
      if (wkc > 0 && ec_isemergency(mbx, mbxl))
      {
         ec_recordemergency(slave, mbx);
         wkc = 0;
         /* A slave that posts nothing but emergencies must not hold the caller past its
          * deadline. */
         if (ec_expired(&deadline) || !ec_mbxwaitfull(slave, &smstat, timeout, &deadline))
            break;
         continue;
      }
      if (wkc > 0 || ec_expired(&deadline))
         break;
      ec_mbxrepeat(slave, &smstat, timeout, &deadline);
   }
   return wkc;
}
