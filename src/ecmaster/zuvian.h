/*
 * The motor controllers' command mailbox.
 *
 * The wheel-base and arm controllers take 8-byte commands through their EtherCAT mailbox, without
 * the usual mailbox header: address, command, type, motor or bank, and a 32-bit value most
 * significant byte first. This module builds those commands, sends them to one slave, turns the
 * reply into a value, and on top of that reads, writes and stores axis and global parameters, reads
 * the firmware version and decodes the controller's error flags.
 *
 * "axis" is the slave number (1-based position in ec_slave); it addresses the mailbox and is sent
 * as the module address of every command. Plain functions over the master's tables: no heap, all
 * waiting through the master's mailbox functions.
 */
#ifndef ZUVIAN_H
#define ZUVIAN_H

#include "ethercattype.h"

/* What every read returns when no reply came. A genuine value of 0xFFFFFFFF looks the same. */
#define MCP_NOREPLY 0xFFFFFFFFu

/* Command codes the system sends. */
#define MCP_CMD_STOP 3
#define MCP_CMD_SAP 5   /* set axis parameter */
#define MCP_CMD_GAP 6   /* get axis parameter */
#define MCP_CMD_STAP 7  /* store axis parameter */
#define MCP_CMD_SGP 9   /* set global parameter */
#define MCP_CMD_STGP 11 /* store global parameter */
#define MCP_CMD_FIRMWARE 136

/* The controller's error and status flags. */
#define MCP_PARAM_ERRORFLAGS 156

/* The request, exactly as it stands at offset 0 of the slave's write mailbox. */
typedef struct
{
   uint8 u8Address;
   uint8 u8Command;
   uint8 u8Type;
   uint8 u8Motor;
   uint8 u8Data[4];
} MCP_Transmit;

/* The reply at offset 0 of the slave's read mailbox; only the value is evaluated. */
typedef struct
{
   uint8 u8ReplyAddress;
   uint8 u8ModuleAddress;
   uint8 u8Status;
   uint8 u8Command;
   uint8 u8Data[4];
} MCP_Receive;

/* "" after a read that got a value, the error-flag text after one that got none; NULL before the
 * first read. */
extern char *paramErrorMessage;

/* Lay a request into `mbx`: the eight command bytes at offset 0, every byte after them 0. */
void mcp_buildrequest(ec_mbxbuft *mbx, uint8 axis, uint8 command, uint8 type, uint8 motor,
                      uint32 value);

/* Build one request and hand it to the axis's write mailbox without waiting for a reply: the
 * working counter of the mailbox write, 0 when the slave cannot take it (no such slave, no mailbox,
 * a mailbox too small for the record, or a mailbox that stayed full for 500 us). */
int mcp_sendcommand(uint8 axis, uint8 command, uint8 type, uint8 motor, uint32 value);

/* The value of a reply buffer: bytes 4..7, most significant first. */
uint32 mcp_replyvalue(const ec_mbxbuft *mbx);

/* Wait up to 1000 us for the axis's reply: its value, or MCP_NOREPLY when none came, when the
 * slave has no mailbox, or when its read mailbox is too small to hold eight bytes. */
uint32 mbx_ethercatRecieve(int axis);

/* Send one request with value 0 and take its reply: the reply value, or MCP_NOREPLY. `data` is
 * only scratch: its 4 bytes are zeroed (it may be NULL). */
uint32 mbx_ethercatRead(uint8 axis, uint8 command, uint8 type, uint8 motor, uint8 *data);

/* Read axis parameter `type`, up to seven times while no reply comes: the value or MCP_NOREPLY.
 * Leaves "" in paramErrorMessage, or the error-flag text when no reply came. A controller that
 * never answers costs seven reads and seven reads of its error flags, each at most 1.5 ms on a bus
 * whose frames come back (0.5 ms for the write, 1 ms for the reply): 21 ms in all. */
uint32 readSingleParameter(uint8 axis, uint8 type);

/* Read the firmware version (command 136 whatever cMode holds), up to seven times while no reply
 * comes: four ASCII characters most significant first, or MCP_NOREPLY. Sets paramErrorMessage
 * like readSingleParameter. */
uint32 readFirmwareParameter(uint8 axis, uint8 cMode);
uint32 getFirmwareVersion(uint8 axis);

/* The text of the highest set error flag among bits 0..11 of parameter 156; "" when none is set;
 * a text saying so when the controller did not answer. Never starts a further check. */
char *CheckParameterErrorFlags(uint8 axis);

/* The text of the highest set flag among bits 0..11 of `flags`, "" when none is set. */
char *mcp_errorflagtext(uint32 flags);

/* The name read from the slave's EEPROM; "" for a slave number outside the table. */
char *getSlaveName(uint8 axis);

/* Confirmed writes: each sends its command until the reply echoes the value, at most 11 times, and
 * prints its failure text when that never happens. Single-axis forms return 1 when confirmed, 0
 * when not; range forms (fromAxis..toAxis inclusive, ascending) return 1 when every axis confirmed,
 * 0 when one did not (the others are still written). */
int writeParameter(uint8 axis, uint8 type, uint32 value);
int saveParameter(uint8 axis, uint8 type, uint32 value);
int writePlatformParameter(uint8 fromAxis, uint8 toAxis, uint8 type, uint32 value);
int savePlatformParameter(uint8 fromAxis, uint8 toAxis, uint8 type, uint32 value);
int writeGlobalPlatformParameter(uint8 fromAxis, uint8 toAxis, uint8 type, uint8 bank,
                                 uint32 value);
int saveGlobalPlatformParameter(uint8 fromAxis, uint8 toAxis, uint8 type, uint8 bank, uint32 value);

#endif
