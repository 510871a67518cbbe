/*
 * FoE file transfer over the mailbox transport: the write and read directions, packet by packet.
 *
 * Every message that comes back is checked against the mailbox it came from before a byte of it
 * is used, so a slave that announces more than it sent cannot make the master read or copy past
 * its buffers.
 */
#include "ethercatfoe.h"
#include "ethercatmain.h"
#include "eclink.h"

#include <string.h>

/* Whether `slave` can carry FoE packets: it is on the bus and both mailboxes fit a mailbox buffer,
 * the write mailbox with room for at least one data byte, the read mailbox for a whole FoE header
 * (and, when `reading`, for at least one data byte too: a read whose packets could carry nothing
 * would never end). A bootstrap mailbox is often larger than the standard one, so this is checked
 * at every call. */
static int ec_FOEusable(uint16 slave, int reading)
{
   const ec_slavet *s;
   if (slave < 1 || slave >= EC_MAXSLAVE || slave > ec_slavecount)
      return 0;
   s = &ec_slave[slave];
   if (s->mbx_l <= EC_FOEHEADERSIZE || s->mbx_l > EC_MAXMBX)
      return 0;
   if (s->mbx_rl < EC_FOEHEADERSIZE + (reading ? 1 : 0) || s->mbx_rl > EC_MAXMBX)
      return 0;
   return 1;
}

/* Data bytes a packet from the master can carry: the write mailbox's room behind the headers. */
static uint16 ec_FOEmaxdata(uint16 slave)
{
   return (uint16)(ec_slave[slave].mbx_l - EC_FOEHEADERSIZE);
}

/* Data bytes a full packet from the slave carries. The slave fills its own send mailbox, which is
 * our read mailbox and may be larger or smaller than the write mailbox, so a read packet is full
 * when it fills the read mailbox. */
static uint16 ec_FOEmaxread(uint16 slave)
{
   return (uint16)(ec_slave[slave].mbx_rl - EC_FOEHEADERSIZE);
}

/* Fills the headers of an outgoing message with `payload` bytes behind them and a new mailbox
 * counter. */
static void ec_FOEheader(uint16 slave, ec_FOEt *msg, uint8 opcode, uint32 field, uint16 payload)
{
   uint8 cnt = ec_nextmbxcnt(ec_slave[slave].mbx_cnt);
   ec_slave[slave].mbx_cnt = cnt;
   msg->MbxHeader.length = (uint16)(EC_FOEHEADERSIZE - sizeof(ec_mbxheadert) + payload);
   msg->MbxHeader.address = 0;
   msg->MbxHeader.priority = 0;
   msg->MbxHeader.mbxtype = (uint8)(ECT_MBXT_FOE + (cnt << 4));
   msg->OpCode = opcode;
   msg->Reserved = 0;
   msg->Password = field;
}

/* Sends the message in `out` again under a new mailbox counter: the slave drops a message whose
 * counter repeats the last one's, taking it for a repetition of a message it already has. */
static int ec_FOEresend(uint16 slave, ec_mbxbuft *out)
{
   ec_FOEt *msg = (ec_FOEt *)out;
   uint8 cnt = ec_nextmbxcnt(ec_slave[slave].mbx_cnt);
   ec_slave[slave].mbx_cnt = cnt;
   msg->MbxHeader.mbxtype = (uint8)(ECT_MBXT_FOE + (cnt << 4));
   return ec_mbxsendcounted(slave, out, EC_TIMEOUT_SAFE);
}

/* Payload bytes of a received message, or -1 when it is not an FoE message or its header length
 * is impossible: below the FoE header, or running past the read mailbox it was read from. */
static int ec_FOEpayload(uint16 slave, const ec_FOEt *msg)
{
   int length = msg->MbxHeader.length;
   int room = ec_slave[slave].mbx_rl;
   if ((msg->MbxHeader.mbxtype & 0x0F) != ECT_MBXT_FOE)
      return -1;
   if (length < EC_FOEHEADERSIZE - (int)sizeof(ec_mbxheadert))
      return -1;
   if ((int)sizeof(ec_mbxheadert) + length > room)
      return -1;
   return length - (EC_FOEHEADERSIZE - (int)sizeof(ec_mbxheadert));
}

/* Drops a message the slave may still hold from an earlier exchange, then sends the read or write
 * request. Returns the send's working counter (0 or less: failed). */
static int ec_FOErequest(uint16 slave, uint8 opcode, const char *filename, uint32 password,
                         ec_mbxbuft *in, ec_mbxbuft *out)
{
   ec_FOEt *msg = (ec_FOEt *)out;
   uint16 namelen = (uint16)strnlen(filename, ec_FOEmaxdata(slave));
   ec_clearmbx(in);
   ec_mbxreceive(slave, in, 0);
   ec_clearmbx(out);
   ec_FOEheader(slave, msg, opcode, password, namelen);
   memcpy(msg->FileName, filename, namelen);
   return ec_mbxsendcounted(slave, out, EC_TIMEOUT_SAFE);
}

int ec_FOEwrite(uint16 slave, char *filename, uint32 password, int psize, void *p, int timeout)
{
   return ec_FOEwrite_progress(slave, filename, password, psize, p, timeout, NULL, NULL);
}

int ec_FOEwrite_progress(uint16 slave, char *filename, uint32 password, int psize, void *p,
                         int timeout, ec_FOEprogressfn fn, void *arg)
{
   ec_mbxbuft in, out;
   ec_FOEt *answer = (ec_FOEt *)&in;
   ec_FOEt *packet = (ec_FOEt *)&out;
   const uint8 *data = (const uint8 *)p;
   uint16 maxdata;
   uint32 sendpacket = 0;
   int remaining = psize;
   int finished = 0;
   int busy = 0;
   int wkc;

   if (!ec_FOEusable(slave, 0) || filename == NULL || psize < 0 || (p == NULL && psize > 0))
      return 0;
   maxdata = ec_FOEmaxdata(slave);
   wkc = ec_FOErequest(slave, ECT_FOE_WRITE, filename, password, &in, &out);
   if (wkc <= 0)
      return wkc;
   for (;;)
   {
      int segment;
      ec_clearmbx(&in);
      wkc = ec_mbxreceive(slave, &in, timeout);
      if (wkc <= 0)
         return wkc;
      if (ec_FOEpayload(slave, answer) < 0)
         return -EC_ERR_TYPE_PACKET_ERROR;
      if (answer->OpCode == ECT_FOE_ERROR)
         return -EC_ERR_TYPE_FOE_ERROR;
      if (answer->OpCode == ECT_FOE_BUSY)
      {
         /* The slave did not take the message; it has to go out again, not the next one. */
         if (++busy > EC_FOE_BUSYTRIES)
            return -EC_ERR_TYPE_PACKET_ERROR;
         ec_clock_sleep(EC_FOE_BUSYPAUSE);
         wkc = ec_FOEresend(slave, &out);
         if (wkc <= 0)
            return wkc;
         continue;
      }
      if (answer->OpCode != ECT_FOE_ACK)
         return -EC_ERR_TYPE_PACKET_ERROR;
      if (answer->PacketNumber != sendpacket)
         return -EC_ERR_TYPE_FOE_PACKETNUMBER;
      busy = 0;
      /* Only now is the packet the slave's: an unanswered one may still have to be sent again. */
      if (fn != NULL)
         fn(arg, psize - remaining, psize);
      if (finished)
         return wkc;
      /* A packet shorter than maxdata ends the file, so after a full last segment (or for an
       * empty file) one more, empty, packet goes out. */
      segment = remaining < maxdata ? remaining : maxdata;
      finished = segment < maxdata;
      sendpacket++;
      ec_clearmbx(&out);
      ec_FOEheader(slave, packet, ECT_FOE_DATA, sendpacket, (uint16)segment);
      if (segment > 0)
         memcpy(packet->Data, data, (size_t)segment);
      data += segment;
      remaining -= segment;
      wkc = ec_mbxsendcounted(slave, &out, EC_TIMEOUT_SAFE);
      if (wkc <= 0)
         return wkc;
   }
}

/* Takes one data packet of `len` bytes into the caller's buffer and acknowledges it. Returns the
 * acknowledgement's working counter, or -EC_ERR_TYPE_FOE_BUF2SMALL when the packet carries the
 * wrong number or does not fit. */
static int ec_FOEtakedata(uint16 slave, const ec_FOEt *answer, int len, uint32 expected,
                          uint8 *dest, int *stored, int capacity, ec_mbxbuft *out)
{
   ec_FOEt *ack = (ec_FOEt *)out;
   if (answer->PacketNumber != expected || len > capacity - *stored)
      return -EC_ERR_TYPE_FOE_BUF2SMALL;
   if (len > 0)
      memcpy(dest + *stored, answer->Data, (size_t)len);
   *stored += len;
   ec_clearmbx(out);
   ec_FOEheader(slave, ack, ECT_FOE_ACK, answer->PacketNumber, 0);
   return ec_mbxsendcounted(slave, out, EC_TIMEOUT_SAFE);
}

int ec_FOEread(uint16 slave, char *filename, uint32 password, int *psize, void *p, int timeout)
{
   ec_mbxbuft in, out;
   ec_FOEt *answer = (ec_FOEt *)&in;
   uint32 expected = 0;
   int capacity, stored = 0;
   int wkc;

   if (psize == NULL)
      return 0;
   capacity = *psize;
   if (!ec_FOEusable(slave, 1) || filename == NULL || capacity < 0 || (p == NULL && capacity > 0))
      return 0;
   wkc = ec_FOErequest(slave, ECT_FOE_READ, filename, password, &in, &out);
   if (wkc <= 0)
      return wkc;
   for (;;)
   {
      int len, result;
      ec_clearmbx(&in);
      wkc = ec_mbxreceive(slave, &in, timeout);
      if (wkc <= 0)
         return wkc;
      len = ec_FOEpayload(slave, answer);
      if (len < 0)
         result = -EC_ERR_TYPE_PACKET_ERROR;
      else if (answer->OpCode == ECT_FOE_ERROR)
         result = -EC_ERR_TYPE_FOE_ERROR;
      else if (answer->OpCode != ECT_FOE_DATA)
         result = -EC_ERR_TYPE_PACKET_ERROR;
      else
         result =
            ec_FOEtakedata(slave, answer, len, ++expected, (uint8 *)p, &stored, capacity, &out);
      *psize = stored;
      if (result <= 0 || answer->OpCode != ECT_FOE_DATA || len != ec_FOEmaxread(slave))
         return result;
   }
}
