/*
 * Cyclic process data exchange of the mapped groups (see ethercatprocessdata.h).
 *
 * A group whose slaves all take logical read/write datagrams is moved with one LRW frame per
 * segment; the first frame may carry the clock datagram that reads the reference clock. A group
 * with a slave that cannot take LRW is moved with separate LRD (inputs) and LWR (outputs) frames.
 */
#include "ethercatprocessdata.h"

#include <stddef.h>

#include "ethercatbase.h"
#include "nicdrv.h"

uint32 ec_groupimagesize[EC_MAXGROUP];

/* Position on the index stack of the frame that carries the clock datagram, -1 when none does. */
static int ec_pd_clockpos = -1;

void ec_pushindex(uint8 idx, void *data, uint16 length)
{
   if (ec_idxstack.pushed >= EC_MAXBUF)
      return;
   ec_idxstack.idx[ec_idxstack.pushed] = idx;
   ec_idxstack.data[ec_idxstack.pushed] = data;
   ec_idxstack.length[ec_idxstack.pushed] = length;
   ec_idxstack.pushed++;
}

int ec_pullindex(void)
{
   if (ec_idxstack.pulled >= ec_idxstack.pushed)
      return -1;
   return ec_idxstack.pulled++;
}

/* The group's image must lie inside the buffer it was mapped into; a group that was never mapped
 * (or was refused) has no buffer at all. */
static boolean ec_pd_imagefits(uint8 group)
{
   const ec_groupt *grp = &ec_group[group];
   uint64 total = (uint64)grp->Obytes + grp->Ibytes;
   if (total > ec_groupimagesize[group])
      return FALSE;
   if (grp->Obytes && !grp->outputs)
      return FALSE;
   if (grp->Ibytes && !grp->inputs)
      return FALSE;
   return TRUE;
}

/* A frame that could not be recorded would never be collected and its index never freed, so no
 * frame goes out once the stack is full. */
static boolean ec_pd_stackfull(void)
{
   return ec_idxstack.pushed >= EC_MAXBUF;
}

/* Put one logical datagram of `length` bytes on the wire and remember where its data go back. */
static void ec_pd_sendframe(uint8 com, uint32 logaddr, uint8 *data, uint16 length)
{
   uint8 idx = ec_getindex();
   if (idx >= EC_MAXBUF)
      return; /* no buffer free: the frame's data are simply not exchanged this cycle */
   ec_setupdatagram(&ec_txbuf[idx], com, idx, (uint16)(logaddr & 0xFFFF), (uint16)(logaddr >> 16),
                    length, data);
   ec_outframe_red(idx);
   ec_pushindex(idx, data, length);
}

static uint16 ec_pd_cut(uint32 segment, uint32 left)
{
   uint32 n = segment < left ? segment : left;
   return (uint16)(n < EC_MAXLRWDATA ? n : EC_MAXLRWDATA);
}

static void ec_pd_sendlrw(ec_groupt *grp)
{
   uint32 left = grp->Obytes + grp->Ibytes;
   uint32 logaddr = grp->logstartaddr;
   uint8 *data = grp->Obytes ? grp->outputs : grp->inputs;
   boolean first = TRUE;

   for (uint16 k = 0; k < grp->nsegments && k < EC_MAXIOSEGMENTS && left > 0; k++)
   {
      uint16 length = ec_pd_cut(grp->IOsegment[k], left);
      if (length == 0)
         continue;
      if (ec_pd_stackfull())
         return;
      uint8 idx = ec_getindex();
      if (idx >= EC_MAXBUF)
         return;
      ec_setupdatagram(&ec_txbuf[idx], EC_CMD_LRW, idx, (uint16)(logaddr & 0xFFFF),
                       (uint16)(logaddr >> 16), length, data);
      if (first && grp->hasdc && grp->DCnext > 0 && grp->DCnext < EC_MAXSLAVE)
      {
         /* The reference clock's time is read in the same frame, so that it belongs to this
          * cycle's data. */
         ec_DCl = length;
         ec_pd_clockpos = ec_idxstack.pushed;
         ec_DCtO = (uint16)ec_adddatagram(&ec_txbuf[idx], EC_CMD_FRMW, idx, FALSE,
                                          ec_slave[grp->DCnext].configadr, ECT_REG_DCSYSTIME,
                                          sizeof(ec_DCtime), &ec_DCtime);
      }
      first = FALSE;
      ec_outframe_red(idx);
      ec_pushindex(idx, data, length);
      left -= length;
      logaddr += length;
      data += length;
   }
}

static void ec_pd_sendinputs(ec_groupt *grp)
{
   uint32 left = grp->Ibytes;
   uint32 logaddr = grp->logstartaddr + grp->Obytes;
   uint8 *data = grp->inputs;
   uint16 k = grp->Isegment;
   /* The first input segment is shared with the last outputs. */
   uint32 segment = grp->IOsegment[k] > grp->Ioffset ? grp->IOsegment[k] - grp->Ioffset : 0;

   while (left > 0 && k < grp->nsegments && k < EC_MAXIOSEGMENTS && !ec_pd_stackfull())
   {
      uint16 length = ec_pd_cut(segment, left);
      if (length > 0)
         ec_pd_sendframe(EC_CMD_LRD, logaddr, data, length);
      left -= length;
      logaddr += length;
      data += length;
      k++;
      if (k < EC_MAXIOSEGMENTS)
         segment = grp->IOsegment[k];
   }
}

static void ec_pd_sendoutputs(ec_groupt *grp)
{
   uint32 left = grp->Obytes;
   uint32 logaddr = grp->logstartaddr;
   uint8 *data = grp->outputs;

   for (uint16 k = 0; k < grp->nsegments && k < EC_MAXIOSEGMENTS && left > 0; k++)
   {
      if (ec_pd_stackfull())
         return;
      uint16 length = ec_pd_cut(grp->IOsegment[k], left);
      if (length == 0)
         continue;
      ec_pd_sendframe(EC_CMD_LWR, logaddr, data, length);
      left -= length;
      logaddr += length;
      data += length;
   }
}

int ec_send_processdata_group(uint8 group)
{
   if (group >= EC_MAXGROUP)
      return 0;
   ec_groupt *grp = &ec_group[group];
   if (grp->Obytes + grp->Ibytes == 0)
      return 0;
   if (!ec_pd_imagefits(group))
      return 0;
   if (group == 0)
   {
      ec_idxstack.pushed = 0;
      ec_idxstack.pulled = 0;
      ec_pd_clockpos = -1;
   }
   if (grp->blockLRW == 0)
   {
      ec_pd_sendlrw(grp);
      return 1;
   }
   if (grp->Ibytes)
      ec_pd_sendinputs(grp);
   if (grp->Obytes)
      ec_pd_sendoutputs(grp);
   return 1;
}

/* Copy the returned data of one frame into the image and give its working counter. The frame
 * carrying the clock datagram counts with its process data datagram's own counter. */
static int ec_pd_collect(int pos, int wkc, boolean withclock)
{
   uint8 idx = ec_idxstack.idx[pos];
   const uint8 *rx = ec_rxbuf[idx];
   uint16 length = ec_idxstack.length[pos];
   uint8 *data = (uint8 *)ec_idxstack.data[pos];

   if (!withclock)
   {
      if (data && length <= EC_MAXDATA)
         memcpy(data, rx + EC_FIRSTDATAOFFSET, length);
      return wkc;
   }
   if (!data || ec_DCl > EC_MAXDATA || ec_DCl > length)
      return 0;
   memcpy(data, rx + EC_FIRSTDATAOFFSET, ec_DCl);
   int own = ec_get16(rx + EC_FIRSTDATAOFFSET + ec_DCl);
   if ((uint32)ec_DCtO + sizeof(ec_DCtime) <= EC_BUFSIZE - ETH_HEADERSIZE)
      memcpy(&ec_DCtime, rx + ec_DCtO, sizeof(ec_DCtime));
   return own;
}

int ec_receive_processdata_group(uint8 group, int timeout)
{
   if (group >= EC_MAXGROUP)
      return 0;
   int sum = 0;
   int pos;

   while ((pos = ec_pullindex()) >= 0)
   {
      uint8 idx = ec_idxstack.idx[pos];
      int wkc = ec_waitinframe(idx, timeout);
      uint8 command = ec_rxbuf[idx][offsetof(ec_comt, command)];
      if (wkc >= 0 && (command == EC_CMD_LRD || command == EC_CMD_LRW))
      {
         if (pos == ec_pd_clockpos)
         {
            /* The clock frame comes first, so its counter starts the sum. */
            sum = ec_pd_collect(pos, wkc, TRUE);
            ec_pd_clockpos = -1;
         }
         else
         {
            sum += ec_pd_collect(pos, wkc, FALSE);
         }
      }
      ec_setbufstat(idx, EC_BUF_EMPTY);
   }
   return sum;
}

int ec_send_processdata(void)
{
   return ec_send_processdata_group(0);
}

int ec_receive_processdata(int timeout)
{
   return ec_receive_processdata_group(0, timeout);
}
