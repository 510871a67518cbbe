/*
 * Datagram primitives: frame builders and the blocking register and memory access of the master.
 *
 * Every length is checked before a byte is written: a frame buffer holds EC_BUFSIZE bytes, so one
 * datagram carries at most EC_MAXDATA data bytes, and an appended datagram must fit behind those
 * already in the frame. Because the builders refuse anything longer, the copy back from a receive
 * buffer (which holds as many bytes as the request) stays inside it as well.
 */
#include "ethercatbase.h"

#include <string.h>

#include "nicdrv.h"

/* Datagram header fields, from the start of a datagram header. */
#define EC_DG_COMMAND 0
#define EC_DG_INDEX 1
#define EC_DG_ADP 2
#define EC_DG_ADO 4
#define EC_DG_DLENGTH 6

/* Offset of the first datagram's command in a receive buffer. */
#define EC_RXCOMMAND EC_HEADERSIZE

static void ec_writedatagram(uint8 *dg, uint8 com, uint8 idx, uint16 ADP, uint16 ADO,
                             uint16 dlength, uint16 length, const void *data)
{
   dg[EC_DG_COMMAND] = com;
   /* The tag of the buffer's current frame, so that a late reply to an earlier one is told apart. */
   dg[EC_DG_INDEX] = ec_wireindex(idx);
   ec_put16(dg + EC_DG_ADP, ADP);
   ec_put16(dg + EC_DG_ADO, ADO);
   ec_put16(dg + EC_DG_DLENGTH, dlength);
   if (length > 0)
      memcpy(dg + EC_DGHEADERSIZE, data, length);
   ec_put16(dg + EC_DGHEADERSIZE + length, 0);
}

int ec_setupdatagram(void *frame, uint8 com, uint8 idx, uint16 ADP, uint16 ADO, uint16 length,
                     void *data)
{
   if (frame == NULL || idx >= EC_MAXBUF || length > EC_MAXDATA || (length > 0 && data == NULL))
      return EC_ERR_LENGTH;
   uint8 *ecat = (uint8 *)frame + ETH_HEADERSIZE;
   ec_put16(ecat, (uint16)(EC_ELENGTHTYPE + EC_DGHEADERSIZE + length + EC_WKCSIZE));
   /* irpt is left as it stands: slaves pass it through and the master never reads it. */
   ec_writedatagram(ecat + EC_HEADERSIZE, com, idx, ADP, ADO, length, length, data);
   ec_txbuflength[idx] = EC_FRAMEOVERHEAD + length;
   return 0;
}

int ec_adddatagram(void *frame, uint8 com, uint8 idx, boolean more, uint16 ADP, uint16 ADO,
                   uint16 length, void *data)
{
   if (frame == NULL || idx >= EC_MAXBUF || (length > 0 && data == NULL))
      return EC_ERR_LENGTH;
   int prevlength = ec_txbuflength[idx];
   if (prevlength < EC_FRAMEOVERHEAD ||
       prevlength + EC_DGHEADERSIZE + length + EC_WKCSIZE > EC_BUFSIZE)
      return EC_ERR_LENGTH;
   uint8 *raw = (uint8 *)frame;
   uint8 *ecat = raw + ETH_HEADERSIZE;
   ec_put16(ecat, (uint16)(ec_get16(ecat) + EC_DGHEADERSIZE + length + EC_WKCSIZE));
   uint8 *first = ecat + EC_HEADERSIZE;
   ec_put16(first + EC_DG_DLENGTH, (uint16)(ec_get16(first + EC_DG_DLENGTH) | EC_DATAGRAMFOLLOWS));
   uint16 dlength = (uint16)(more ? length | EC_DATAGRAMFOLLOWS : length);
   ec_writedatagram(raw + prevlength, com, idx, ADP, ADO, dlength, length, data);
   ec_txbuflength[idx] = prevlength + EC_DGHEADERSIZE + length + EC_WKCSIZE;
   return prevlength + EC_DGHEADERSIZE - ETH_HEADERSIZE;
}

/* One blocking exchange of a single datagram. Copies the reply's data back when `copyback` and
 * the working counter is above 0, and, when `expect` is not EC_CMD_NOP, only when the reply's
 * datagram still carries that command. */
static int ec_datagram(uint8 com, uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout,
                       boolean copyback, uint8 expect, int resend)
{
   if (length > EC_MAXDATA || (length > 0 && data == NULL))
      return EC_ERR_LENGTH;
   uint8 idx = ec_getindex();
   if (idx >= EC_MAXBUF)
      return EC_NOFRAME; /* every frame buffer is in use: nothing was sent */
   ec_setupdatagram(ec_txbuf[idx], com, idx, ADP, ADO, length, data);
   int wkc = resend ? ec_srconfirm(idx, timeout) : ec_srconfirmonce(idx, timeout);
   if (wkc > 0 && copyback && length > 0 &&
       (expect == EC_CMD_NOP || ec_rxbuf[idx][EC_RXCOMMAND] == expect))
      memcpy(data, &ec_rxbuf[idx][EC_FIRSTDATAOFFSET], length);
   ec_setbufstat(idx, EC_BUF_EMPTY);
   return wkc;
}

static int ec_exchange(uint8 com, uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout,
                       boolean copyback, uint8 expect)
{
   return ec_datagram(com, ADP, ADO, length, data, timeout, copyback, expect, 1);
}

int ec_BWR(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout)
{
   return ec_exchange(EC_CMD_BWR, ADP, ADO, length, data, timeout, FALSE, EC_CMD_NOP);
}

int ec_BRD(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout)
{
   return ec_exchange(EC_CMD_BRD, ADP, ADO, length, data, timeout, TRUE, EC_CMD_NOP);
}

int ec_APRD(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout)
{
   return ec_exchange(EC_CMD_APRD, ADP, ADO, length, data, timeout, TRUE, EC_CMD_NOP);
}

int ec_ARMW(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout)
{
   return ec_exchange(EC_CMD_ARMW, ADP, ADO, length, data, timeout, TRUE, EC_CMD_NOP);
}

int ec_FRMW(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout)
{
   return ec_exchange(EC_CMD_FRMW, ADP, ADO, length, data, timeout, TRUE, EC_CMD_NOP);
}

int ec_FPRD(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout)
{
   return ec_exchange(EC_CMD_FPRD, ADP, ADO, length, data, timeout, TRUE, EC_CMD_NOP);
}

int ec_APWR(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout)
{
   return ec_exchange(EC_CMD_APWR, ADP, ADO, length, data, timeout, FALSE, EC_CMD_NOP);
}

int ec_FPWR(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout)
{
   return ec_exchange(EC_CMD_FPWR, ADP, ADO, length, data, timeout, FALSE, EC_CMD_NOP);
}

int ec_FPWRonce(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout)
{
   return ec_datagram(EC_CMD_FPWR, ADP, ADO, length, data, timeout, FALSE, EC_CMD_NOP, 0);
}

int ec_APWRonce(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout)
{
   return ec_datagram(EC_CMD_APWR, ADP, ADO, length, data, timeout, FALSE, EC_CMD_NOP, 0);
}

/* One logical exchange; the 32-bit address travels as ADP (low word) and ADO (high word). A read
 * copies back only when the reply still carries the command sent. */
static int ec_logical(uint8 com, uint32 LogAdr, uint16 length, void *data, int timeout,
                      boolean copyback)
{
   return ec_exchange(com, (uint16)(LogAdr & 0xFFFF), (uint16)(LogAdr >> 16), length, data, timeout,
                      copyback, copyback ? com : (uint8)EC_CMD_NOP);
}

int ec_LRD(uint32 LogAdr, uint16 length, void *data, int timeout)
{
   return ec_logical(EC_CMD_LRD, LogAdr, length, data, timeout, TRUE);
}

int ec_LWR(uint32 LogAdr, uint16 length, void *data, int timeout)
{
   return ec_logical(EC_CMD_LWR, LogAdr, length, data, timeout, FALSE);
}

int ec_LRW(uint32 LogAdr, uint16 length, void *data, int timeout)
{
   return ec_logical(EC_CMD_LRW, LogAdr, length, data, timeout, TRUE);
}

int ec_LRWDC(uint32 LogAdr, uint16 length, void *data, uint16 DCrs, int64 *DCtime, int timeout)
{
   if (length > EC_MAXLRWDCDATA || (length > 0 && data == NULL) || DCtime == NULL)
      return EC_ERR_LENGTH;
   uint8 idx = ec_getindex();
   if (idx >= EC_MAXBUF)
      return EC_NOFRAME;
   ec_setupdatagram(ec_txbuf[idx], EC_CMD_LRW, idx, (uint16)(LogAdr & 0xFFFF),
                    (uint16)(LogAdr >> 16), length, data);
   int64 clock = *DCtime;
   int DCtO = ec_adddatagram(ec_txbuf[idx], EC_CMD_FRMW, idx, FALSE, DCrs, ECT_REG_DCSYSTIME,
                             sizeof clock, &clock);
   if (DCtO < 0)
   {
      ec_setbufstat(idx, EC_BUF_EMPTY);
      return EC_ERR_LENGTH;
   }
   int wkc = ec_srconfirm(idx, timeout);
   if (wkc > 0 && ec_rxbuf[idx][EC_RXCOMMAND] == EC_CMD_LRW)
   {
      if (length > 0)
         memcpy(data, &ec_rxbuf[idx][EC_FIRSTDATAOFFSET], length);
      wkc = ec_get16(&ec_rxbuf[idx][EC_FIRSTDATAOFFSET + length]);
      memcpy(DCtime, &ec_rxbuf[idx][DCtO], sizeof *DCtime);
   }
   ec_setbufstat(idx, EC_BUF_EMPTY);
   return wkc;
}

uint16 ec_APRDw(uint16 ADP, uint16 ADO, int timeout)
{
   uint16 w = 0;
   ec_APRD(ADP, ADO, sizeof w, &w, timeout);
   return w;
}

uint16 ec_FPRDw(uint16 ADP, uint16 ADO, int timeout)
{
   uint16 w = 0;
   ec_FPRD(ADP, ADO, sizeof w, &w, timeout);
   return w;
}

int ec_APWRw(uint16 ADP, uint16 ADO, uint16 data, int timeout)
{
   return ec_APWR(ADP, ADO, sizeof data, &data, timeout);
}

int ec_FPWRw(uint16 ADP, uint16 ADO, uint16 data, int timeout)
{
   return ec_FPWR(ADP, ADO, sizeof data, &data, timeout);
}
