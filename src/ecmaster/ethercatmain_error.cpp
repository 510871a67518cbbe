/*
 * The master's error list: a ring of 65 slots that keeps the newest 64 unread entries. The
 * protocol layers push what went wrong (SDO aborts, emergencies, packet errors); an application may
 * pop and print them.
 */
#include "ethercatmain.h"

#include <string.h>

#include "eclink.h"

static int16 ec_ringnext(int16 i)
{
   return (int16)(i >= EC_MAXELIST ? 0 : i + 1);
}

void ec_pusherror(const ec_errort *Ec)
{
   if (!Ec)
      return;
   ec_elist.Error[ec_elist.head] = *Ec;
   ec_elist.Error[ec_elist.head].Signal = TRUE;
   ec_elist.head = ec_ringnext(ec_elist.head);
   /* Full: drop the oldest unread entry so that the ring keeps the newest ones. */
   if (ec_elist.head == ec_elist.tail)
      ec_elist.tail = ec_ringnext(ec_elist.tail);
   EcatError = TRUE;
}

boolean ec_poperror(ec_errort *Ec)
{
   boolean notempty = (ec_elist.head != ec_elist.tail);
   if (Ec)
      *Ec = ec_elist.Error[ec_elist.tail];
   ec_elist.Error[ec_elist.tail].Signal = FALSE;
   if (!notempty)
   {
      EcatError = FALSE;
      return FALSE;
   }
   ec_elist.tail = ec_ringnext(ec_elist.tail);
   return TRUE;
}

boolean ec_iserror(void)
{
   return ec_elist.head != ec_elist.tail;
}

void ec_newerror(ec_errort *Ec, ec_err_type Etype, uint16 Slave, uint16 Index, uint8 SubIdx)
{
   memset(Ec, 0, sizeof *Ec);
   ec_clock_wall(&Ec->Time);
   Ec->Etype = Etype;
   Ec->Slave = Slave;
   Ec->Index = Index;
   Ec->SubIdx = SubIdx;
}

void ec_packeterror(uint16 Slave, uint16 Index, uint8 SubIdx, uint16 ErrorCode)
{
   ec_errort Ec;
   ec_newerror(&Ec, EC_ERR_TYPE_PACKET_ERROR, Slave, Index, SubIdx);
   Ec.ErrorCode = ErrorCode;
   ec_pusherror(&Ec);
}

void ec_mbxemergencyerror(uint16 Slave, uint16 ErrorCode, uint16 ErrorReg, uint8 b1, uint16 w1,
                          uint16 w2)
{
   ec_errort Ec;
   ec_newerror(&Ec, EC_ERR_TYPE_EMERGENCY, Slave, 0, 0);
   Ec.ErrorCode = ErrorCode;
   Ec.ErrorReg = (uint8)ErrorReg;
   Ec.b1 = b1;
   Ec.w1 = w1;
   Ec.w2 = w2;
   ec_pusherror(&Ec);
}
