/*
 * Motion commands, the recording parameter read and the parameter dump.
 */
#include "zuvianmotion.h"

#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "ethercatmain.h"
#include "zuvian.h"

#define MCP_DUMPLINE 128
#define MCP_MAXAXIS 255 /* axes travel as one byte */

uint8 getAxisInitialization(uint8 axis)
{
   int next = 0;
   int i;

   for (i = 0; i < ZUVIAN_MAXSINEAXES; i++)
   {
      if (initSineAxis[i] == axis)
      {
         return 1;
      }
      if (initSineAxis[i] != 0)
      {
         next = i + 1;
      }
   }
   /* with every place taken the axis stays unrecorded rather than written past the list */
   if (next < ZUVIAN_MAXSINEAXES)
   {
      initSineAxis[next] = axis;
   }
   return 0;
}

void initSine(uint8 axis)
{
   if (getAxisInitialization(axis))
   {
      return;
   }
   if (!ec_mbxempty(axis, MCP_TIMEOUT_SEND))
   {
      return;
   }
   mcp_sendcommand(axis, MCP_CMD_SAP, MCP_PARAM_SINESTART, 0, 1);
   (void)mbx_ethercatRecieve(axis);
}

void moveForward(uint8 axis, uint32 value)
{
   (void)value;
   initSine(axis);
}

void moveBackward(uint8 axis, uint32 value)
{
   (void)value;
   initSine(axis);
}

void motorStop(uint8 axis)
{
   mcp_sendcommand(axis, MCP_CMD_STOP, 0, 0, 0);
   (void)mbx_ethercatRecieve(axis);
}

uint32 getGearRatio(uint8 axis)
{
   return readSingleParameter(axis, MCP_PARAM_GEARRATIO);
}

uint32 getEncoderTicksPerRound(uint8 axis)
{
   return readSingleParameter(axis, MCP_PARAM_ENCODERTICKS);
}

uint32 getActualPosition(uint8 axis)
{
   return readSingleParameter(axis, MCP_PARAM_ACTUALPOSITION);
}

double getSensedAngle(uint8 axis)
{
   (void)getGearRatio(axis);
   (void)getEncoderTicksPerRound(axis);
   (void)getActualPosition(axis);
   return NAN;
}

void calibrateJoint(uint8 axis, uint8 direction)
{
   (void)axis;
   if (direction > 1)
   {
      printf("Missing parameter in function calibrateJoint!");
      fflush(stdout);
   }
}

void getInverseMovementDirection(void)
{
}

uint32 getLastIndexofArray(ParamInfo *array)
{
   uint32 i;

   for (i = 0; i < ZUVIAN_MAXPARAMS; i++)
   {
      if (array[i].type == 0)
      {
         return i;
      }
   }
   return 0xFFFFFFFFu;
}

uint32 readParameter(uint8 axis, uint8 type, EtherCat_Info *eInf)
{
   uint8 scratch[4];
   uint32 idx = 0xFFFFFFFFu;
   uint32 value;

   if (eInf != NULL)
   {
      idx = getLastIndexofArray(eInf->params);
   }
   value = mbx_ethercatRead(axis, MCP_CMD_GAP, type, 0, scratch);
   if (idx != 0xFFFFFFFFu)
   {
      eInf->params[idx].axis = axis;
      eInf->params[idx].type = type;
      eInf->params[idx].value = (uint8)value;
      eInf->params[idx].desc = NULL;
   }
   return value;
}

/* Append one dump line for a value that came; `fd` below 0 (no file) writes nothing. */
static void mcp_dumpline(int fd, int axis, int number, uint32 value)
{
   char line[MCP_DUMPLINE];
   int length;

   if (fd < 0 || value == MCP_NOREPLY)
   {
      return;
   }
   length = snprintf(line, sizeof(line), "%d: reading %d value %8d (0x%8X)\n", axis, number,
                     (int)value, (unsigned int)value);
   if (length < 0)
   {
      return;
   }
   if (length >= (int)sizeof(line))
   {
      length = (int)sizeof(line) - 1; /* the line was cut to the buffer */
   }
   if (write(fd, line, (size_t)length) != length)
   {
      /* a full disk loses the rest of the dump; the reads still run */
      return;
   }
}

/* Opened for reading and writing, created when missing, never truncated, written from its start. */
static int mcp_opendump(void)
{
   return open(ZUVIAN_DUMPFILE, O_RDWR | O_CREAT, 0644);
}

/* Axes of a dump: from axisoffset up to but not including lastaxis, and none past one byte. */
static int mcp_dumpend(uint16 lastaxis)
{
   return lastaxis > MCP_MAXAXIS + 1 ? MCP_MAXAXIS + 1 : lastaxis;
}

int readallParameters(uint16 axisoffset, uint16 lastaxis, EtherCat_Info *eInf)
{
   int fd = mcp_opendump();
   int end = mcp_dumpend(lastaxis);
   int axis;
   int number;

   for (axis = axisoffset; axis < end; axis++)
   {
      for (number = 0; number <= 255; number++)
      {
         uint32 value = readParameter((uint8)axis, (uint8)number, eInf);
         mcp_dumpline(fd, axis, number, value);
      }
   }
   if (fd >= 0)
   {
      close(fd);
   }
   return 0;
}

int readParametersbyRange(uint16 axisoffset, uint16 lastaxis, int *params, int lenArr,
                          EtherCat_Info *eInf)
{
   int fd = mcp_opendump();
   int end = mcp_dumpend(lastaxis);
   int axis;
   int i;

   for (axis = axisoffset; axis < end && params != NULL; axis++)
   {
      for (i = 0; i < lenArr; i++)
      {
         uint32 value = readParameter((uint8)axis, (uint8)params[i], eInf);
         mcp_dumpline(fd, axis, params[i], value);
      }
   }
   if (fd >= 0)
   {
      close(fd);
   }
   return 0;
}
