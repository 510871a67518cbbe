/*
 * The slave-facing services of the EtherCAT master that sit directly on the datagram primitives:
 * the SII EEPROM (ownership, word access, a byte cache and the category parsers), the AL state
 * machine (read, request, wait), the mailbox transport (send, receive with repeat request,
 * emergency interception) and the master's error list.
 *
 * Slaves are named by their index in ec_slave (1..ec_slavecount; 0 stands for the whole bus where
 * an operation allows it). Every wait is measured with ec_clock_now and paced with ec_clock_sleep,
 * so a test clock drives all deadlines.
 */
#ifndef ETHERCATMAIN_H
#define ETHERCATMAIN_H

#include "ethercattype.h"

/* ---- SII layout ---- */

/* Word addresses of the SII header. */
enum
{
   ECT_SII_MANUF = 0x0008,
   ECT_SII_ID = 0x000A,
   ECT_SII_REV = 0x000C,
   ECT_SII_BOOTRXMBX = 0x0014,
   ECT_SII_BOOTTXMBX = 0x0016,
   ECT_SII_RXMBXADR = 0x0018,
   ECT_SII_MBXSIZE = 0x0019,
   ECT_SII_TXMBXADR = 0x001A,
   ECT_SII_MBXPROTO = 0x001C
};

/* Category types. */
enum
{
   ECT_SII_STRING = 10,
   ECT_SII_GENERAL = 30,
   ECT_SII_FMMU = 40,
   ECT_SII_SM = 41,
   ECT_SII_PDO = 50
};

/* Byte address of the first category header (word 0x0040). */
#define ECT_SII_START 0x0080
/* Type word that ends the category chain. */
#define ECT_SII_END 0xFFFF

/* EEPROM interface commands (written to ECT_REG_EEPCTL). */
enum
{
   EC_ECMD_NOP = 0x0000,
   EC_ECMD_READ = 0x0100,
   EC_ECMD_WRITE = 0x0201,
   EC_ECMD_RELOAD = 0x0300
};

/* EEPROM interface status bits (read from ECT_REG_EEPSTAT). */
#define EC_ESTAT_BUSY 0x8000
#define EC_ESTAT_EMASK 0x7800
#define EC_ESTAT_NACK 0x2000
#define EC_ESTAT_R64 0x0040

#pragma pack(push, 1)
/* Command block written in one go to ECT_REG_EEPCTL. */
typedef struct
{
   uint16 comm;
   uint16 addr;
   uint16 d2;
} ec_eepromt;
#pragma pack(pop)
static_assert(sizeof(ec_eepromt) == 6, "EEPROM command block is 6 bytes");

/* SII FMMU category as parsed: use code per FMMU. Startpos 0 = category absent. */
typedef struct
{
   uint16 Startpos;
   uint8 nFMMU;
   uint8 FMMU0;
   uint8 FMMU1;
   uint8 FMMU2;
   uint8 FMMU3;
} ec_eepromFMMUt;

/* SII SyncManager category: the number of entries and the entry read last. */
typedef struct
{
   uint16 Startpos;
   uint8 nSM;
   uint16 PhStart;
   uint16 Plength;
   uint8 Creg;
   uint8 Sreg;
   uint8 Activate;
   uint8 PDIctrl;
} ec_eepromSMt;

/* SII TXPDO or RXPDO category: PDOs from position 1 on, and the bits per SyncManager. */
typedef struct
{
   uint16 Startpos;
   uint16 Length;
   uint16 nPDO;
   uint16 Index[EC_MAXEEPDO];
   uint16 SyncM[EC_MAXEEPDO];
   uint16 BitSize[EC_MAXEEPDO];
   uint16 SMbitsize[EC_MAXSM];
} ec_eepromPDOt;

/* ---- mailbox ---- */

/* SyncManager status and control bits of the mailbox. */
#define EC_SMSTAT_MBXFULL 0x08    /* SM status: mailbox full */
#define EC_SMSTAT_REPEAT 0x0200   /* SM1 status word: repeat request (activate bit 1) */
#define EC_SMCONTR_REPEATACK 0x02 /* SM1 PDI control: repeat acknowledge */

/* ---- EEPROM ownership ---- */

/* Hand the slave's EEPROM interface to the master: the working counter of the last write, or 1
 * when the master already had it. */
int ec_eeprom2master(uint16 slave);
/* Hand it to the slave's own processor: the working counter of the write, or 1 when nothing had
 * to be done. */
int ec_eeprom2pdi(uint16 slave);

/* ---- EEPROM word access ---- */

/* 1 when the interface reported not busy before the time-out, else 0; *estat gets the status. */
uint16 ec_eeprom_waitnotbusyAP(uint16 aiadr, uint16 *estat, int timeout);
uint16 ec_eeprom_waitnotbusyFP(uint16 configadr, uint16 *estat, int timeout);
/* 8 or 4 bytes from word address eeproma (the upper half 0 on a 4-byte interface); 0 on failure. */
uint64 ec_readeepromAP(uint16 aiadr, uint16 eeproma, int timeout);
uint64 ec_readeepromFP(uint16 configadr, uint16 eeproma, int timeout);
/* Write one word: 1 on success, 0 on failure. */
int ec_writeeepromAP(uint16 aiadr, uint16 eeproma, uint16 data, int timeout);
int ec_writeeepromFP(uint16 configadr, uint16 eeproma, uint16 data, int timeout);
/* The first 4 bytes at eeproma (0 on failure); leaves the EEPROM with the master. */
uint32 ec_readeeprom(uint16 slave, uint16 eeproma, int timeout);
/* 1 on success, 0 on failure; leaves the EEPROM with the master. */
int ec_writeeeprom(uint16 slave, uint16 eeproma, uint16 data, int timeout);
/* Start a read and return at once; ec_readeeprom2 collects its 4 bytes (0 on failure). */
void ec_readeeprom1(uint16 slave, uint16 eeproma);
uint32 ec_readeeprom2(uint16 slave, int timeout);

/* ---- SII through the byte cache ---- */

/* The byte at SII byte address `address`, or 0xFF above the cache. */
uint8 ec_siigetbyte(uint16 slave, uint16 address);
/* Byte address of the length word of category `cat` (its data start 2 bytes further); 0 when the
 * slave has no such category. */
int16 ec_siifind(uint16 slave, uint16 cat);
/* String number Sn (from 1) into str, which holds EC_MAXNAME + 1 bytes; longer strings are cut.
 * Empty when Sn is 0 or above the number of strings, unchanged when there are no strings. */
void ec_siistring(char *str, uint16 slave, uint16 Sn);
/* Number of FMMU entries, 0 when the category is absent. */
uint16 ec_siiFMMU(uint16 slave, ec_eepromFMMUt *FMMU);
/* Number of SyncManager entries; the record then holds entry 0. */
uint16 ec_siiSM(uint16 slave, ec_eepromSMt *SM);
/* 1 when entry n exists (the record then holds it), else 0. */
uint16 ec_siiSMnext(uint16 slave, ec_eepromSMt *SM, uint16 n);
/* Total bits of the PDOs assigned to a SyncManager; t = 0 TXPDO, 1 RXPDO. */
int ec_siiPDO(uint16 slave, ec_eepromPDOt *PDO, uint8 t);
/* Copy the SII from word 0x0040 on into esibuf, which holds EC_MAXEEPBUF bytes. */
void ec_esidump(uint16 slave, uint8 *esibuf, uint8 test);

/* ---- AL state ---- */

/* The lowest AL Status word of all slaves (0 when one did not answer). */
int ec_readstate(void);
/* Request the entry's `state` from the slave (0: every slave, by broadcast). Always 0. */
int ec_writestate(uint16 slave);
/* Wait until the slave (0: the OR of all slaves) reports reqstate: the state reached (AL Status &
 * 0x0F), or 0 for a slave number above ec_slavecount. */
uint16 ec_statecheck(uint16 slave, uint16 reqstate, int timeout);

/* ---- mailbox transport ---- */

/* The counter after cnt: 1..7, never 0. */
uint8 ec_nextmbxcnt(uint8 cnt);
/* Zero the whole mailbox buffer. */
void ec_clearmbx(ec_mbxbuft *Mbx);
/* First byte address of an ESC's process memory; below it lie its registers. */
#define EC_PROCESSRAM 0x1000
/* 1 when a mailbox of `length` bytes at `offset` (as an SII gives them) lies in process memory.
 * One that an SII places among the registers would have every message overwrite the station
 * address, the AL control or the SyncManagers; such a slave is used without a mailbox. */
int ec_mbxwindowok(uint16 offset, uint16 length);
/* 1 when the slave's write mailbox is empty, 0 when it stayed full or could not be read. */
int ec_mbxempty(uint16 slave, int timeout);
/* Working counter of the mailbox write (1 on success, also when its reply was lost but the mailbox
 * shows the message), 0 when the slave has no usable mailbox or the mailbox stayed full, negative
 * when the write got no answer and may or may not have landed. The write is never repeated. */
int ec_mbxsend(uint16 slave, ec_mbxbuft *mbx, int timeout);
/* ec_mbxsend for a protocol whose replies carry no counter: a message waiting in the read
 * mailbox (a late reply, or a second one to a request the bus delivered twice) is read into
 * `scratch` and dropped first, since it would be taken for the answer to this request. One read of
 * both SyncManagers' status serves that check and the wait for a free write mailbox. Same results
 * as ec_mbxsend. */
int ec_mbxsendfresh(uint16 slave, ec_mbxbuft *mbx, ec_mbxbuft *scratch, int timeout);

/* ec_mbxsend for a message whose header carries a mailbox counter: a write that may not have
 * landed is written again unchanged, up to EC_MBXSENDTRIES writes in all. A slave drops a message
 * that repeats the counter of the one before, so the request is acted on once either way. Same
 * results as ec_mbxsend. */
int ec_mbxsendcounted(uint16 slave, ec_mbxbuft *mbx, int timeout);
/* Working counter of the read (> 0: a message is in mbx); 0 or less when nothing arrived in time
 * or the slave has no usable mailbox. */
int ec_mbxreceive(uint16 slave, ec_mbxbuft *mbx, int timeout);

/* ---- error list ---- */

/* Start a fresh entry in *Ec: all zero but the time, type, slave and object entry. */
void ec_newerror(ec_errort *Ec, ec_err_type Etype, uint16 Slave, uint16 Index, uint8 SubIdx);
/* Store a copy of *Ec as the newest entry and set EcatError; a full ring drops its oldest entry. */
void ec_pusherror(const ec_errort *Ec);
/* TRUE when the oldest unread entry was copied into *Ec; FALSE when the ring is empty. */
boolean ec_poperror(ec_errort *Ec);
/* TRUE while the ring holds an unread entry. */
boolean ec_iserror(void);
/* Record a packet error: 1 unexpected reply, 3 reply larger than the buffer, 4 no SoE reply. */
void ec_packeterror(uint16 Slave, uint16 Index, uint8 SubIdx, uint16 ErrorCode);
/* Record an emergency received from the slave. */
void ec_mbxemergencyerror(uint16 Slave, uint16 ErrorCode, uint16 ErrorReg, uint8 b1, uint16 w1,
                          uint16 w2);

#endif
