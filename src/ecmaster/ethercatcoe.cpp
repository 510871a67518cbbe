/*
 * CoE SDO transfer: upload and download of object entries (expedited, normal and segmented, with
 * or without complete access), mailbox PDOs, and the CoE entries of the error list.
 *
 * A slave may announce any size it likes; before a byte is copied, the announced size is held
 * against the caller's capacity and the bytes of the reply against what the read mailbox carried.
 * A segmented upload that delivers more than the size announced in its first answer is stopped
 * with packet error 3 rather than written past the announced size.
 */
#include "ethercatcoe.h"
#include "ethercatcoe_private.h"
#include "ethercatmain.h"

/* Toggle bit of SDO segments. */
#define ECX_SDO_TOGGLE 0x10
/* A download segment that carries fewer than this many bytes says how many are unused. */
#define ECX_SDO_SEGMINDATA 7

int ecx_coe_slaveok(uint16 slave)
{
   return slave >= 1 && slave < EC_MAXSLAVE && slave <= ec_slavecount;
}

void ecx_coe_begin(uint16 slave, ec_mbxbuft *in, ec_mbxbuft *out)
{
   ec_clearmbx(in);
   /* A stale answer of an earlier, abandoned exchange would otherwise be taken for ours. */
   (void)ec_mbxreceive(slave, in, 0);
   ec_clearmbx(in);
   ec_clearmbx(out);
}

void ecx_coe_header(uint16 slave, ec_mbxbuft *out, uint16 length, uint16 canopen)
{
   ec_SDOt *msg = (ec_SDOt *)out;
   uint8 cnt = ec_nextmbxcnt(ec_slave[slave].mbx_cnt);
   ec_slave[slave].mbx_cnt = cnt;
   msg->MbxHeader.length = length;
   msg->MbxHeader.address = 0;
   msg->MbxHeader.priority = 0;
   msg->MbxHeader.mbxtype = (uint8)(ECT_MBXT_COE + (cnt << 4));
   msg->CANOpen = canopen;
}

int ecx_coe_exchange(uint16 slave, ec_mbxbuft *out, ec_mbxbuft *in, int timeout)
{
   int wkc = ec_mbxsendcounted(slave, out, EC_TIMEOUT_SAFE);
   if (wkc <= 0)
   {
      return wkc;
   }
   ec_clearmbx(in);
   return ec_mbxreceive(slave, in, timeout);
}

/* The slave's write mailbox length, but never more than a mailbox buffer holds. */
static int ecx_coe_mbxlen(uint16 slave)
{
   int mbxl = ec_slave[slave].mbx_l;
   return mbxl > EC_MAXMBX ? EC_MAXMBX : mbxl;
}

int ecx_coe_service(const ec_mbxbuft *in)
{
   const ec_SDOt *msg = (const ec_SDOt *)in;
   if ((msg->MbxHeader.mbxtype & 0x0F) != ECT_MBXT_COE)
   {
      return -1;
   }
   return msg->CANOpen >> 12;
}

int ecx_coe_replyfits(uint16 slave, const ec_mbxbuft *in, int minlen)
{
   const ec_SDOt *msg = (const ec_SDOt *)in;
   int limit = ec_slave[slave].mbx_rl;
   if (limit > EC_MAXMBX)
   {
      limit = EC_MAXMBX;
   }
   if (ecx_coe_service(in) < 0 || msg->MbxHeader.length < minlen)
   {
      return 0;
   }
   return (int)sizeof(ec_mbxheadert) + msg->MbxHeader.length <= limit;
}

void ecx_coe_unexpected(uint16 slave, uint16 index, uint8 subidx, const ec_mbxbuft *in)
{
   const ec_SDOt *msg = (const ec_SDOt *)in;
   if (ecx_coe_service(in) >= 0 && msg->Command == ECT_SDO_ABORT)
   {
      ec_SDOerror(slave, index, subidx, (int32)msg->ldata[0]);
      return;
   }
   ec_packeterror(slave, index, subidx, 1);
}

static void ecx_coe_pusherror(ec_err_type type, uint16 Slave, uint16 Index, uint8 SubIdx,
                              int32 AbortCode)
{
   ec_errort Ec;
   ec_newerror(&Ec, type, Slave, Index, SubIdx);
   Ec.AbortCode = AbortCode;
   ec_pusherror(&Ec);
}

void ec_SDOerror(uint16 Slave, uint16 Index, uint8 SubIdx, int32 AbortCode)
{
   ecx_coe_pusherror(EC_ERR_TYPE_SDO_ERROR, Slave, Index, SubIdx, AbortCode);
}

void ec_SDOinfoerror(uint16 Slave, uint16 Index, uint8 SubIdx, int32 AbortCode)
{
   ecx_coe_pusherror(EC_ERR_TYPE_SDOINFO_ERROR, Slave, Index, SubIdx, AbortCode);
}

/* Stamp an SDO request of header length `length` for one entry, with `word` in its data word. */
static void ecx_sdo_request(uint16 slave, ec_mbxbuft *out, uint16 length, uint8 command,
                            uint16 index, uint8 sub, uint32 word)
{
   ec_SDOt *msg = (ec_SDOt *)out;
   ecx_coe_header(slave, out, length, (uint16)(ECT_COES_SDOREQ << 12));
   msg->Command = command;
   msg->Index = index;
   msg->SubIndex = sub;
   msg->ldata[0] = word;
}

/* A good SDO response: CoE, service SDO response, with the header and 32-bit data word present. */
static int ecx_sdo_isresponse(uint16 slave, const ec_mbxbuft *in)
{
   return ecx_coe_replyfits(slave, in, ECX_SDO_HEADERLEN) && ecx_coe_service(in) == ECT_COES_SDORES;
}

/* 1 when *in is a segment response whose command bits 5..7 are `ccs` (0x00 upload, 0x20
 * download); else the error it deserves is pushed and 0 returned. */
static int ecx_sdo_segmentok(uint16 slave, uint16 index, uint8 sub, const ec_mbxbuft *in, uint8 ccs)
{
   const ec_SDOt *msg = (const ec_SDOt *)in;
   if (ecx_coe_replyfits(slave, in, 3) && ecx_coe_service(in) == ECT_COES_SDORES &&
       (msg->Command & 0xE0) == ccs)
   {
      return 1;
   }
   ecx_coe_unexpected(slave, index, sub, in);
   return 0;
}

/* Fetch the rest of a normal upload in segments, appending behind the *psize bytes already stored.
 * The slave announced `complete` bytes in all; it gets no chance to deliver more. */
static int ecx_sdo_uploadsegments(uint16 slave, uint16 index, uint8 sub, int complete, int *psize,
                                  uint8 *p, int timeout)
{
   ec_mbxbuft MbxIn, MbxOut;
   ec_SDOt *SDOp = (ec_SDOt *)&MbxIn;
   uint8 toggle = 0x00;
   int wkc = 0;
   boolean last = FALSE;
   while (!last)
   {
      ec_clearmbx(&MbxOut);
      ecx_sdo_request(slave, &MbxOut, ECX_SDO_HEADERLEN, (uint8)(ECT_SDO_SEG_UP_REQ + toggle),
                      index, sub, 0);
      wkc = ecx_coe_exchange(slave, &MbxOut, &MbxIn, timeout);
      if (wkc <= 0)
      {
         return wkc;
      }
      if (!ecx_sdo_segmentok(slave, index, sub, &MbxIn, 0x00))
      {
         return 0;
      }
      int seglen = SDOp->MbxHeader.length - 3;
      if (SDOp->Command & 0x01)
      {
         last = TRUE;
         if (seglen == ECX_SDO_SEGMINDATA)
         {
            seglen -= (SDOp->Command & 0x0E) >> 1;
         }
      }
      /* A segment that is not the last carries data, or the transfer would never end. */
      if (!last && seglen == 0)
      {
         ec_packeterror(slave, index, sub, 1);
         return 0;
      }
      if (seglen > complete - *psize)
      {
         ec_packeterror(slave, index, sub, 3);
         return 0;
      }
      memcpy(p + *psize, (const uint8 *)&MbxIn + ECX_SDO_SEGDATAOFS, (size_t)seglen);
      *psize += seglen;
      toggle ^= ECX_SDO_TOGGLE;
   }
   return wkc;
}

int ec_SDOread(uint16 slave, uint16 index, uint8 subindex, boolean CA, int *psize, void *p,
               int timeout)
{
   if (!ecx_coe_slaveok(slave) || psize == NULL || *psize < 0 || (p == NULL && *psize > 0))
   {
      return 0;
   }
   ec_mbxbuft MbxIn, MbxOut;
   ec_SDOt *SDOp = (ec_SDOt *)&MbxIn;
   /* Complete access starts at sub-index 0 or 1; the adjusted value is the one reported. */
   uint8 sub = (CA && subindex > 1) ? 1 : subindex;
   ecx_coe_begin(slave, &MbxIn, &MbxOut);
   ecx_sdo_request(slave, &MbxOut, ECX_SDO_HEADERLEN, CA ? ECT_SDO_UP_REQ_CA : ECT_SDO_UP_REQ,
                   index, sub, 0);
   int wkc = ecx_coe_exchange(slave, &MbxOut, &MbxIn, timeout);
   if (wkc <= 0)
   {
      return wkc;
   }
   if (!ecx_sdo_isresponse(slave, &MbxIn) || SDOp->Index != index || SDOp->Command == ECT_SDO_ABORT)
   {
      ecx_coe_unexpected(slave, index, sub, &MbxIn);
      return 0;
   }
   int capacity = *psize;
   if (SDOp->Command & 0x02)
   {
      /* Expedited: up to four bytes in the data word itself. */
      int bytesize = 4 - ((SDOp->Command >> 2) & 0x03);
      if (bytesize > capacity)
      {
         ec_packeterror(slave, index, sub, 3);
         return 0;
      }
      memcpy(p, &SDOp->ldata[0], (size_t)bytesize);
      *psize = bytesize;
      return wkc;
   }
   uint32 announced = SDOp->ldata[0];
   if (announced > (uint32)capacity)
   {
      ec_packeterror(slave, index, sub, 3);
      return 0;
   }
   int complete = (int)announced;
   int framedatasize = SDOp->MbxHeader.length - ECX_SDO_HEADERLEN;
   const uint8 *framedata = (const uint8 *)&MbxIn + ECX_SDO_SIZEDDATAOFS;
   if (framedatasize >= complete)
   {
      if (complete > 0)
      {
         memcpy(p, framedata, (size_t)complete);
      }
      *psize = complete;
      return wkc;
   }
   memcpy(p, framedata, (size_t)framedatasize);
   *psize = framedatasize;
   return ecx_sdo_uploadsegments(slave, index, sub, complete, psize, (uint8 *)p, timeout);
}

/* Send the download segments that follow the initiate; `mbxl` is the usable write mailbox. */
static int ecx_sdo_downloadsegments(uint16 Slave, uint16 Index, uint8 SubIndex, int mbxl,
                                    int remaining, const uint8 *hp, int Timeout)
{
   ec_mbxbuft MbxIn, MbxOut;
   ec_SDOt *SDOq = (ec_SDOt *)&MbxOut;
   int segcapacity = mbxl - ECX_SDO_SEGDATAOFS;
   uint8 toggle = 0x00;
   int wkc = 1;
   while (remaining > 0)
   {
      int size = remaining;
      uint8 command = 0x01;
      uint16 length = (uint16)(size + 3);
      if (remaining > segcapacity)
      {
         size = segcapacity;
         command = 0x00;
         length = (uint16)(size + 3);
      }
      else if (size < ECX_SDO_SEGMINDATA)
      {
         command = (uint8)(0x01 + ((ECX_SDO_SEGMINDATA - size) << 1));
         length = ECX_SDO_HEADERLEN;
      }
      ec_clearmbx(&MbxOut);
      ecx_coe_header(Slave, &MbxOut, length, (uint16)(ECT_COES_SDOREQ << 12));
      SDOq->Command = (uint8)(command + toggle);
      memcpy((uint8 *)&MbxOut + ECX_SDO_SEGDATAOFS, hp, (size_t)size);
      wkc = ecx_coe_exchange(Slave, &MbxOut, &MbxIn, Timeout);
      if (wkc <= 0)
      {
         return wkc;
      }
      if (!ecx_sdo_segmentok(Slave, Index, SubIndex, &MbxIn, 0x20))
      {
         return 0;
      }
      remaining -= size;
      hp += size;
      toggle ^= ECX_SDO_TOGGLE;
   }
   return wkc;
}

int ec_SDOwrite(uint16 Slave, uint16 Index, uint8 SubIndex, boolean CA, int psize, void *p,
                int Timeout)
{
   if (!ecx_coe_slaveok(Slave) || psize < 0 || (p == NULL && psize > 0))
   {
      return 0;
   }
   int mbxl = ecx_coe_mbxlen(Slave);
   /* Below 16 bytes not even the initiate header fits: nothing can be sent. */
   if (mbxl < ECX_SDO_SIZEDDATAOFS)
   {
      ec_packeterror(Slave, Index, SubIndex, 3);
      return 0;
   }
   ec_mbxbuft MbxIn, MbxOut;
   ec_SDOt *SDOp = (ec_SDOt *)&MbxIn;
   uint8 sub = (CA && SubIndex > 1) ? 1 : SubIndex;
   int framedatasize = psize;
   if (framedatasize > mbxl - ECX_SDO_SIZEDDATAOFS)
   {
      framedatasize = mbxl - ECX_SDO_SIZEDDATAOFS;
   }
   ecx_coe_begin(Slave, &MbxIn, &MbxOut);
   ecx_sdo_request(Slave, &MbxOut, (uint16)(ECX_SDO_HEADERLEN + framedatasize),
                   CA ? ECT_SDO_DOWN_INIT_CA : ECT_SDO_DOWN_INIT, Index, sub, (uint32)psize);
   if (framedatasize > 0)
   {
      memcpy((uint8 *)&MbxOut + ECX_SDO_SIZEDDATAOFS, p, (size_t)framedatasize);
   }
   int wkc = ecx_coe_exchange(Slave, &MbxOut, &MbxIn, Timeout);
   if (wkc <= 0)
   {
      return wkc;
   }
   if (!ecx_sdo_isresponse(Slave, &MbxIn) || SDOp->Index != Index || SDOp->SubIndex != sub ||
       SDOp->Command == ECT_SDO_ABORT)
   {
      ecx_coe_unexpected(Slave, Index, SubIndex, &MbxIn);
      return 0;
   }
   if (psize == framedatasize)
   {
      return wkc;
   }
   return ecx_sdo_downloadsegments(Slave, Index, SubIndex, mbxl, psize - framedatasize,
                                   (const uint8 *)p + framedatasize, Timeout);
}

int ec_RxPDO(uint16 Slave, uint16 RxPDOnumber, int psize, void *p)
{
   if (!ecx_coe_slaveok(Slave) || psize < 0 || (p == NULL && psize > 0))
   {
      return 0;
   }
   int mbxl = ecx_coe_mbxlen(Slave);
   if (mbxl < 8)
   {
      return 0;
   }
   ec_mbxbuft MbxIn, MbxOut;
   int framedatasize = psize;
   if (framedatasize > mbxl - 8)
   {
      framedatasize = mbxl - 8;
   }
   ecx_coe_begin(Slave, &MbxIn, &MbxOut);
   ecx_coe_header(Slave, &MbxOut, (uint16)(2 + framedatasize),
                  (uint16)((RxPDOnumber & 0x01FF) + (ECT_COES_RXPDO << 12)));
   if (framedatasize > 0)
   {
      memcpy((uint8 *)&MbxOut + 8, p, (size_t)framedatasize);
   }
   return ec_mbxsendcounted(Slave, &MbxOut, EC_TIMEOUT_SAFE);
}

int ec_TxPDO(uint16 slave, uint16 TxPDOnumber, int *psize, void *p, int timeout)
{
   if (!ecx_coe_slaveok(slave) || psize == NULL || *psize < 0 || (p == NULL && *psize > 0))
   {
      return 0;
   }
   ec_mbxbuft MbxIn, MbxOut;
   const ec_SDOt *SDOp = (const ec_SDOt *)&MbxIn;
   ecx_coe_begin(slave, &MbxIn, &MbxOut);
   ecx_coe_header(slave, &MbxOut, 2, (uint16)((TxPDOnumber & 0x01FF) + (ECT_COES_TXPDO_RR << 12)));
   int wkc = ecx_coe_exchange(slave, &MbxOut, &MbxIn, timeout);
   if (wkc <= 0)
   {
      return wkc;
   }
   if (!ecx_coe_replyfits(slave, &MbxIn, 2) || ecx_coe_service(&MbxIn) != ECT_COES_TXPDO)
   {
      ecx_coe_unexpected(slave, 0, 0, &MbxIn);
      return 0;
   }
   int framedatasize = SDOp->MbxHeader.length - 2;
   if (framedatasize > *psize)
   {
      ec_packeterror(slave, 0, 0, 3);
      return 0;
   }
   if (framedatasize > 0)
   {
      memcpy(p, (const uint8 *)&MbxIn + 8, (size_t)framedatasize);
   }
   *psize = framedatasize;
   return wkc;
}
