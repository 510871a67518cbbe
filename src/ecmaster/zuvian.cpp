/*
 * The motor controllers' command mailbox: requests, replies, reads with retries, confirmed writes
 * and the error-flag texts. See zuvian.h for the record layout.
 */
#include "zuvian.h"

#include <stdio.h>
#include <string.h>

#include "eclink.h"
#include "ethercatmain.h"

#define MCP_RECORD_SIZE 8

char *paramErrorMessage = NULL;

/* Writable because the interface hands texts out as char*; nothing in this module writes them. */
static char mcp_emptytext[] = "";
static char mcp_noreplytext[] =
   "No reply from the controller: its error flags (parameter 156) could not be read";
static char mcp_flagtexts[12][56] = {
   "Overcurrent limit is exceeded",
   "Supply voltage is too low for motor operation",
   "Motor was switched off, due to overvoltage",
   "Overtemperature limit is exceeded",
   "Motor has been switched off",
   "Hall error!",
   "Encoder error!",
   "Bit 7 - should not be used",
   "Bit 8 - should not be used",
   "Initialization of sine commutation failed!",
   "Module is in positioning mode.",
   "Motor was stopped at the end position.",
};

/* One request and one reply buffer: only one exchange is ever in flight. */
static ec_mbxbuft mcp_txbuf;
static ec_mbxbuft mcp_rxbuf;

static_assert(sizeof(MCP_Transmit) == MCP_RECORD_SIZE, "request record is 8 bytes");
static_assert(sizeof(MCP_Receive) == MCP_RECORD_SIZE, "reply record is 8 bytes");

/* 1 when `axis` names a slave of the table, else 0. */
static int mcp_validaxis(int axis)
{
   return axis >= 1 && axis <= ec_slavecount && axis < EC_MAXSLAVE;
}

/* A mailbox that cannot carry a whole record, or that is larger than our buffer, is not used:
 * a shorter one would leave stale bytes where the value is read, a larger one would make the
 * master copy past the buffer. */
static int mcp_usablelength(uint16 length)
{
   return length >= MCP_RECORD_SIZE && length <= sizeof(ec_mbxbuft);
}

void mcp_buildrequest(ec_mbxbuft *mbx, uint8 axis, uint8 command, uint8 type, uint8 motor,
                      uint32 value)
{
   MCP_Transmit request;

   request.u8Address = axis;
   request.u8Command = command;
   request.u8Type = type;
   request.u8Motor = motor;
   request.u8Data[0] = (uint8)(value >> 24);
   request.u8Data[1] = (uint8)(value >> 16);
   request.u8Data[2] = (uint8)(value >> 8);
   request.u8Data[3] = (uint8)value;
   ec_clearmbx(mbx);
   memcpy(*mbx, &request, sizeof(request));
}

uint32 mcp_replyvalue(const ec_mbxbuft *mbx)
{
   MCP_Receive reply;

   memcpy(&reply, *mbx, sizeof(reply));
   return ((uint32)reply.u8Data[0] << 24) | ((uint32)reply.u8Data[1] << 16) |
          ((uint32)reply.u8Data[2] << 8) | (uint32)reply.u8Data[3];
}

/* Hand the request in mcp_txbuf to the slave: the working counter of the mailbox write, 0 when
 * the slave cannot take it, negative when the write's reply was lost and the request may have
 * landed: only the controller's reply can tell then, so the caller waits for it before it sends
 * the request again.
 *
 * The records carry no counter, so a reply that came too late for its own request would be taken
 * for the answer to this one: a late echo of 4000 would confirm a write of 4000 to another
 * parameter, and one extra reply to a request the bus delivered twice would shift every answer
 * after it. Such a reply is fetched and dropped first; the status read that looks for it also
 * tells that the write mailbox is free, so a command costs four frames when nothing waits. */
static int mcp_send(int axis)
{
   if (!mcp_validaxis(axis) || !mcp_usablelength(ec_slave[axis].mbx_l))
   {
      return 0;
   }
   return ec_mbxsendfresh((uint16)axis, &mcp_txbuf, &mcp_rxbuf, MCP_TIMEOUT_SEND);
}

int mcp_sendcommand(uint8 axis, uint8 command, uint8 type, uint8 motor, uint32 value)
{
   mcp_buildrequest(&mcp_txbuf, axis, command, type, motor, value);
   return mcp_send(axis);
}

uint32 mbx_ethercatRecieve(int axis)
{
   int wkc;

   if (!mcp_validaxis(axis) || !mcp_usablelength(ec_slave[axis].mbx_rl))
   {
      return MCP_NOREPLY;
   }
   ec_clearmbx(&mcp_rxbuf);
   wkc = ec_mbxreceive((uint16)axis, &mcp_rxbuf, MCP_TIMEOUT_RECEIVE);
   if (wkc <= 0)
   {
      return MCP_NOREPLY;
   }
   return mcp_replyvalue(&mcp_rxbuf);
}

uint32 mbx_ethercatRead(uint8 axis, uint8 command, uint8 type, uint8 motor, uint8 *data)
{
   if (data != NULL)
   {
      memset(data, 0, 4);
   }
   if (mcp_sendcommand(axis, command, type, motor, 0) == 0)
   {
      return MCP_NOREPLY;
   }
   return mbx_ethercatRecieve(axis);
}

/* One read and, while it got no reply, up to six more; a read changes nothing on the controller,
 * so repeating it is safe. The retries stop at the first reply: reading on would only risk losing
 * a value already received to a later miss. No error-flag check, so the check itself can use it
 * without starting another check. */
static uint32 mcp_readwithretries(uint8 axis, uint8 command, uint8 type)
{
   uint8 scratch[4];
   uint32 value;
   int i;

   value = mbx_ethercatRead(axis, command, type, 0, scratch);
   for (i = 0; i < MCP_READ_REPEATS && value == MCP_NOREPLY; i++)
   {
      value = mbx_ethercatRead(axis, command, type, 0, scratch);
   }
   return value;
}

/* Leave the outcome of a read in paramErrorMessage. */
static void mcp_noteread(uint8 axis, uint32 value)
{
   paramErrorMessage = mcp_emptytext;
   if (value == MCP_NOREPLY)
   {
      paramErrorMessage = CheckParameterErrorFlags(axis);
   }
}

uint32 readSingleParameter(uint8 axis, uint8 type)
{
   uint32 value = mcp_readwithretries(axis, MCP_CMD_GAP, type);

   mcp_noteread(axis, value);
   return value;
}

uint32 readFirmwareParameter(uint8 axis, uint8 cMode)
{
   uint32 value;

   (void)cMode; /* the controllers know only command 136 for their version */
   value = mcp_readwithretries(axis, MCP_CMD_FIRMWARE, 0);
   mcp_noteread(axis, value);
   return value;
}

uint32 getFirmwareVersion(uint8 axis)
{
   return readFirmwareParameter(axis, MCP_CMD_FIRMWARE);
}

char *mcp_errorflagtext(uint32 flags)
{
   char *text = mcp_emptytext;
   int bit;

   /* ascending, so the highest set bit has the last word */
   for (bit = 0; bit < 12; bit++)
   {
      if (flags & (1u << bit))
      {
         text = mcp_flagtexts[bit];
      }
   }
   return text;
}

char *CheckParameterErrorFlags(uint8 axis)
{
   uint32 flags = mcp_readwithretries(axis, MCP_CMD_GAP, MCP_PARAM_ERRORFLAGS);

   /* the no-reply value has every bit set; decoding it would blame the motor for a silent bus */
   if (flags == MCP_NOREPLY)
   {
      return mcp_noreplytext;
   }
   return mcp_errorflagtext(flags);
}

char *getSlaveName(uint8 axis)
{
   if (axis >= EC_MAXSLAVE)
   {
      return mcp_emptytext;
   }
   return ec_slave[axis].name;
}

/* 1 when the last exchange confirmed `value`, else 0. A send whose own reply was lost (negative)
 * counts when the controller's reply echoes the value: the request did land. */
static int mcp_confirmed(int sent, uint32 reply, uint32 value)
{
   return sent != 0 && reply == value;
}

/* Send one command to one axis until its reply echoes the value: 1 when confirmed, 0 after the
 * eleventh send (whose reply is not looked at), with `failtext` printed. */
static int mcp_confirmedwrite(uint8 axis, uint8 command, uint8 type, uint8 motor, uint32 value,
                              const char *failtext)
{
   int sent;
   uint32 reply;
   int retries = 0;

   mcp_buildrequest(&mcp_txbuf, axis, command, type, motor, value);
   sent = mcp_send(axis);
   reply = mbx_ethercatRecieve(axis);
   while (!mcp_confirmed(sent, reply, value))
   {
      ec_clock_sleep(MCP_RETRY_PAUSE);
      sent = mcp_send(axis);
      reply = mbx_ethercatRecieve(axis);
      retries++;
      if (retries >= MCP_WRITE_RETRIES)
      {
         printf(failtext, type, axis);
         fflush(stdout);
         return 0;
      }
   }
   return 1;
}

/* The confirmed write over fromAxis..toAxis: 1 when every axis confirmed, else 0. */
static int mcp_rangewrite(uint8 fromAxis, uint8 toAxis, uint8 command, uint8 type, uint8 motor,
                          uint32 value, const char *failtext)
{
   int allconfirmed = 1;
   int axis;

   /* int, so that a range ending at 255 still ends */
   for (axis = fromAxis; axis <= toAxis; axis++)
   {
      if (!mcp_confirmedwrite((uint8)axis, command, type, motor, value, failtext))
      {
         allconfirmed = 0;
      }
   }
   return allconfirmed;
}

static const char mcp_failwrite[] = "Fehler beim schreiben Parameter: %d Achse: %d \n";
static const char mcp_failsave[] = "Fehler beim Speichern Parameter: %d Achse: %d \n";
static const char mcp_failglobalwrite[] =
   "Fehler beim globalen schreiben Parameter: %d Achse: %d \n";
static const char mcp_failglobalsave[] =
   "Fehler beim globalen speichern Parameter: %d Achse: %d \n";

int writeParameter(uint8 axis, uint8 type, uint32 value)
{
   return mcp_confirmedwrite(axis, MCP_CMD_SAP, type, 0, value, mcp_failwrite);
}

int saveParameter(uint8 axis, uint8 type, uint32 value)
{
   return mcp_confirmedwrite(axis, MCP_CMD_STAP, type, 0, value, mcp_failsave);
}

int writePlatformParameter(uint8 fromAxis, uint8 toAxis, uint8 type, uint32 value)
{
   return mcp_rangewrite(fromAxis, toAxis, MCP_CMD_SAP, type, 0, value, mcp_failwrite);
}

int savePlatformParameter(uint8 fromAxis, uint8 toAxis, uint8 type, uint32 value)
{
   /* the store over a range has always reported itself with the write's text */
   return mcp_rangewrite(fromAxis, toAxis, MCP_CMD_STAP, type, 0, value, mcp_failwrite);
}

int writeGlobalPlatformParameter(uint8 fromAxis, uint8 toAxis, uint8 type, uint8 bank, uint32 value)
{
   return mcp_rangewrite(fromAxis, toAxis, MCP_CMD_SGP, type, bank, value, mcp_failglobalwrite);
}

int saveGlobalPlatformParameter(uint8 fromAxis, uint8 toAxis, uint8 type, uint8 bank, uint32 value)
{
   return mcp_rangewrite(fromAxis, toAxis, MCP_CMD_STGP, type, bank, value, mcp_failglobalsave);
}
