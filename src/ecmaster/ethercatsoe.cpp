/*
 * SoE services: IDN read and write with fragments, the SoE entries of the error list, and the
 * process data sizes of a drive from its IDN configuration lists.
 */
#include "ethercatsoe.h"
#include "ethercatmain.h"

ec_SoEmappingt SoEmapping;
ec_SoEattributet SoEattribute;

/* Bytes of mailbox and SoE header in front of the data; MbxHeader.length counts 4 of them. */
#define ECX_SOE_HEADERSIZE 10
#define ECX_SOE_HEADERLEN 4

/* 1 when slave names an entry of the slave table in use, else 0. */
static int ecx_soe_slaveok(uint16 slave)
{
   return slave >= 1 && slave < EC_MAXSLAVE && slave <= ec_slavecount;
}

/* Usable size of a mailbox of `len` bytes: the buffer holds no more than EC_MAXMBX. */
static int ecx_soe_mbxlimit(uint16 len)
{
   return len > EC_MAXMBX ? EC_MAXMBX : len;
}

/* 1 when *in is SoE, carries the SoE header and lies within what the read mailbox held. */
static int ecx_soe_replyfits(uint16 slave, const ec_mbxbuft *in)
{
   const ec_SoEt *msg = (const ec_SoEt *)in;
   if ((msg->MbxHeader.mbxtype & 0x0F) != ECT_MBXT_SOE || msg->MbxHeader.length < ECX_SOE_HEADERLEN)
   {
      return 0;
   }
   return (int)sizeof(ec_mbxheadert) + msg->MbxHeader.length <=
          ecx_soe_mbxlimit(ec_slave[slave].mbx_rl);
}

static void ecx_soe_begin(uint16 slave, ec_mbxbuft *in, ec_mbxbuft *out)
{
   ec_clearmbx(in);
   /* A stale answer of an earlier, abandoned exchange would otherwise be taken for ours. */
   (void)ec_mbxreceive(slave, in, 0);
   ec_clearmbx(in);
   ec_clearmbx(out);
}

/* Fill the fixed part of an outgoing SoE message with a fresh mailbox counter. */
static void ecx_soe_header(uint16 slave, ec_mbxbuft *out, uint8 opcode, uint8 driveNo,
                           uint8 elementflags, int datalen)
{
   ec_SoEt *msg = (ec_SoEt *)out;
   uint8 cnt = ec_nextmbxcnt(ec_slave[slave].mbx_cnt);
   ec_slave[slave].mbx_cnt = cnt;
   msg->MbxHeader.length = (uint16)(ECX_SOE_HEADERLEN + datalen);
   msg->MbxHeader.address = 0;
   msg->MbxHeader.priority = 0;
   msg->MbxHeader.mbxtype = (uint8)(ECT_MBXT_SOE + (cnt << 4));
   msg->opCode = opcode & 0x07;
   msg->error = 0;
   msg->driveNo = driveNo & 0x07;
   msg->elementflags = elementflags;
}

/* Judge a reply that should be `opcode` for the request's drive and elements: 1 when good, else 0
 * with the error pushed (the drive's code for an error answer, packet error 1 for the rest). */
static int ecx_soe_judge(uint16 slave, uint16 idn, const ec_mbxbuft *in, uint8 opcode,
                         uint8 driveNo, uint8 elementflags)
{
   const ec_SoEt *msg = (const ec_SoEt *)in;
   boolean fits = ecx_soe_replyfits(slave, in);
   if (fits && msg->opCode == opcode && !msg->error && msg->driveNo == (driveNo & 0x07) &&
       msg->elementflags == elementflags)
   {
      return 1;
   }
   /* The error code is the last word; an error answer too short to hold it is no answer at all. */
   if (fits && msg->opCode == opcode && msg->error &&
       msg->MbxHeader.length >= ECX_SOE_HEADERLEN + 2)
   {
      ec_SoEerror(slave, idn,
                  ec_get16((const uint8 *)in + sizeof(ec_mbxheadert) + msg->MbxHeader.length - 2));
      return 0;
   }
   ec_packeterror(slave, idn, 0, 1);
   return 0;
}

void ec_SoEerror(uint16 Slave, uint16 idn, uint16 Error)
{
   ec_errort Ec;
   ec_newerror(&Ec, EC_ERR_TYPE_SOE_ERROR, Slave, idn, 0);
   Ec.ErrorCode = Error;
   ec_pusherror(&Ec);
}

int ec_SoEread(uint16 slave, uint8 driveNo, uint8 elementflags, uint16 idn, int *psize, void *p,
               int timeout)
{
   if (!ecx_soe_slaveok(slave) || psize == NULL || *psize < 0 || (p == NULL && *psize > 0))
   {
      return 0;
   }
   ec_mbxbuft MbxIn, MbxOut;
   const ec_SoEt *ans = (const ec_SoEt *)&MbxIn;
   ecx_soe_begin(slave, &MbxIn, &MbxOut);
   ecx_soe_header(slave, &MbxOut, ECT_SOE_READREQ, driveNo, elementflags, 0);
   ((ec_SoEt *)&MbxOut)->incomplete = 0;
   ((ec_SoEt *)&MbxOut)->idn = idn;
   int wkc = ec_mbxsendcounted(slave, &MbxOut, EC_TIMEOUT_SAFE);
   if (wkc <= 0)
   {
      return wkc;
   }
   int capacity = *psize;
   int total = 0;
   uint8 *bp = (uint8 *)p;
   for (;;)
   {
      ec_clearmbx(&MbxIn);
      wkc = ec_mbxreceive(slave, &MbxIn, timeout);
      if (wkc <= 0)
      {
         ec_packeterror(slave, idn, 0, 4);
         return wkc;
      }
      if (!ecx_soe_judge(slave, idn, &MbxIn, ECT_SOE_READRES, driveNo, elementflags))
      {
         return 0;
      }
      /* What does not fit the caller's buffer is dropped; the count stops at the capacity. */
      int framedatasize = ans->MbxHeader.length - ECX_SOE_HEADERLEN;
      /* A fragment that is not the last carries data, or the read would never end. */
      if (ans->incomplete && framedatasize == 0)
      {
         ec_packeterror(slave, idn, 0, 1);
         return 0;
      }
      int room = capacity - total;
      int stored = framedatasize < room ? framedatasize : room;
      if (stored > 0)
      {
         memcpy(bp + total, (const uint8 *)&MbxIn + ECX_SOE_HEADERSIZE, (size_t)stored);
         total += stored;
      }
      if (!ans->incomplete)
      {
         *psize = total;
         return wkc;
      }
   }
}

/* Receive the answer to a write and judge it. `fragmentsleft` says whether more were to come: an
 * answer before the last fragment went out means the drive broke the write off, which is not a
 * success whatever the answer says. */
static int ecx_soe_writeanswer(uint16 slave, uint8 driveNo, uint8 elementflags, uint16 idn,
                               boolean fragmentsleft, int timeout, boolean *done)
{
   ec_mbxbuft MbxIn;
   ec_clearmbx(&MbxIn);
   int wkc = ec_mbxreceive(slave, &MbxIn, timeout);
   if (wkc <= 0)
   {
      /* Neither taken nor answered: the drive is stuck, and the rest would not reach it whole. */
      ec_packeterror(slave, idn, 0, 4);
      *done = TRUE;
      return wkc;
   }
   *done = TRUE;
   if (!ecx_soe_judge(slave, idn, &MbxIn, ECT_SOE_WRITERES, driveNo, elementflags))
   {
      return 0;
   }
   if (fragmentsleft)
   {
      ec_packeterror(slave, idn, 0, 1);
      return 0;
   }
   return wkc;
}

int ec_SoEwrite(uint16 slave, uint8 driveNo, uint8 elementflags, uint16 idn, int psize, void *p,
                int timeout)
{
   if (!ecx_soe_slaveok(slave) || psize < 0 || (p == NULL && psize > 0))
   {
      return 0;
   }
   int maxdata = ecx_soe_mbxlimit(ec_slave[slave].mbx_l) - ECX_SOE_HEADERSIZE;
   if (maxdata < 1)
   {
      ec_packeterror(slave, idn, 0, 3);
      return 0;
   }
   ec_mbxbuft MbxIn, MbxOut;
   ec_SoEt *req = (ec_SoEt *)&MbxOut;
   ecx_soe_begin(slave, &MbxIn, &MbxOut);
   const uint8 *hp = (const uint8 *)p;
   int remaining = psize;
   int wkc = 0;
   boolean done = FALSE;
   while (!done)
   {
      int size = remaining;
      boolean more = FALSE;
      ec_clearmbx(&MbxOut);
      ecx_soe_header(slave, &MbxOut, ECT_SOE_WRITEREQ, driveNo, elementflags, 0);
      req->incomplete = 0;
      req->idn = idn;
      if (remaining > maxdata)
      {
         size = maxdata;
         more = TRUE;
         req->incomplete = 1;
         req->fragmentsleft = (uint16)(remaining / maxdata);
      }
      req->MbxHeader.length = (uint16)(ECX_SOE_HEADERLEN + size);
      if (size > 0)
      {
         memcpy((uint8 *)&MbxOut + ECX_SOE_HEADERSIZE, hp, (size_t)size);
      }
      remaining -= size;
      hp += size;
      wkc = ec_mbxsendcounted(slave, &MbxOut, EC_TIMEOUT_SAFE);
      if (wkc <= 0)
      {
         /* A fragment that did not go out leaves the value incomplete: sending the rest could
          * earn a good answer to the last fragment and pass the whole write as done. */
         return wkc;
      }
      /* Further fragments go out as soon as the drive has taken this one; only the last waits for
       * the answer. */
      if (more && ec_mbxempty(slave, timeout))
      {
         continue;
      }
      wkc = ecx_soe_writeanswer(slave, driveNo, elementflags, idn, more, timeout, &done);
   }
   return wkc;
}

/* Bits of one direction from IDN list `listidn`: 16 for the list's own length word plus each
 * non-list entry's size; 0 when the list cannot be read or holds 0 or more than 64 entries. */
static int ecx_idnbits(uint16 slave, uint16 listidn)
{
   memset(&SoEmapping, 0, sizeof(SoEmapping));
   int psize = sizeof(SoEmapping);
   int wkc = ec_SoEread(slave, 0, EC_SOE_VALUE_B, listidn, &psize, &SoEmapping, EC_TIMEOUT_MBXRX);
   if (wkc <= 0 || psize < 4)
   {
      return 0;
   }
   int entries = SoEmapping.currentlength / 2;
   if (entries < 1 || entries > EC_SOE_MAXMAPPING)
   {
      return 0;
   }
   /* Entries the drive announced but did not send stay out of the count. */
   int delivered = (psize - 4) / 2;
   if (entries > delivered)
   {
      entries = delivered;
   }
   int bits = 16;
   for (int i = 0; i < entries; i++)
   {
      memset(&SoEattribute, 0, sizeof(SoEattribute));
      int asize = sizeof(SoEattribute);
      wkc = ec_SoEread(slave, 0, EC_SOE_ATTRIBUTE_B, SoEmapping.idn[i], &asize, &SoEattribute,
                       EC_TIMEOUT_MBXRX);
      if (wkc > 0 && asize == (int)sizeof(SoEattribute) && !SoEattribute.list)
      {
         bits += 8 << SoEattribute.length;
      }
   }
   return bits;
}

int ec_readIDNmap(uint16 slave, int *Osize, int *Isize)
{
   if (Osize == NULL || Isize == NULL)
   {
      return 0;
   }
   *Osize = 0;
   *Isize = 0;
   if (!ecx_soe_slaveok(slave))
   {
      return 0;
   }
   *Osize = ecx_idnbits(slave, EC_IDN_MDTCONFIG);
   *Isize = ecx_idnbits(slave, EC_IDN_ATCONFIG);
   return (*Osize > 0 || *Isize > 0) ? 1 : 0;
}
