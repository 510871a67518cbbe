/*
 * CANopen over EtherCAT (CoE): the master's access to a slave's object dictionary through the
 * mailbox.
 *
 * SDO upload and download (expedited, normal and segmented, of one entry or with complete access
 * of a whole object), mailbox PDO transfer, the read-out of a slave's process data layout from its
 * sync manager types and PDO assignment objects (used by the process data mapping), and the SDO
 * information services that list the dictionary. Every operation is synchronous and self-contained;
 * failures of the slave go onto the master's error list.
 *
 * Lengths a slave announces are never trusted: each is held against the bytes the mailbox really
 * carries and against the caller's buffer before anything is copied. A reply that does not fit
 * is answered with packet error 3 (container too small) or 1 (unexpected frame) and result 0.
 */
#ifndef ETHERCATCOE_H
#define ETHERCATCOE_H

#include "ethercattype.h"

/* CoE services (bits 12..15 of CANOpen). ECT_COES_EMERGENCY comes from ethercattype.h. */
enum
{
   ECT_COES_SDOREQ = 0x02,
   ECT_COES_SDORES = 0x03,
   ECT_COES_TXPDO = 0x04,
   ECT_COES_RXPDO = 0x05,
   ECT_COES_TXPDO_RR = 0x06,
   ECT_COES_RXPDO_RR = 0x07,
   ECT_COES_SDOINFO = 0x08
};

/* SDO command specifiers. */
enum
{
   ECT_SDO_DOWN_INIT = 0x21,
   ECT_SDO_DOWN_INIT_CA = 0x31,
   ECT_SDO_UP_REQ = 0x40,
   ECT_SDO_UP_REQ_CA = 0x50,
   ECT_SDO_SEG_UP_REQ = 0x60,
   ECT_SDO_ABORT = 0x80
};

/* SDO information operations (bits 0..6 of Opcode; bit 7 marks an incomplete answer). */
enum
{
   ECT_GET_ODLIST_REQ = 0x01,
   ECT_GET_ODLIST_RES = 0x02,
   ECT_GET_OD_REQ = 0x03,
   ECT_GET_OD_RES = 0x04,
   ECT_GET_OE_REQ = 0x05,
   ECT_GET_OE_RES = 0x06,
   ECT_SDOINFO_ERROR = 0x07
};

/* The objects the PDO read-out walks. */
#define ECT_SDO_SMCOMMTYPE 0x1C00
#define ECT_SDO_PDOASSIGN 0x1C10

/* Abort code pushed when an object list is longer than ec_ODlistt holds. */
#define ECT_SDOINFO_LISTFULL 0x0F000000

#pragma pack(push, 1)

/* An SDO message as it lies in a mailbox buffer. may_alias: it is laid over plain mailbox bytes. */
typedef struct __attribute__((may_alias))
{
   ec_mbxheadert MbxHeader;
   uint16 CANOpen;
   uint8 Command;
   uint16 Index;
   uint8 SubIndex;
   union
   {
      uint8 bdata[0x200];
      uint16 wdata[0x100];
      uint32 ldata[0x80];
   };
} ec_SDOt;

/* An SDO information message as it lies in a mailbox buffer. */
typedef struct __attribute__((may_alias))
{
   ec_mbxheadert MbxHeader;
   uint16 CANOpen;
   uint8 Opcode;
   uint8 Reserved;
   uint16 Fragments;
   union
   {
      uint8 bdata[0x200];
      uint16 wdata[0x100];
      uint32 ldata[0x80];
   };
} ec_SDOservicet;

/* Complete-access images of 0x1C00, 0x1C1x and one PDO mapping object: sub-index 0, one byte of
 * padding, then the entries. */
typedef struct
{
   uint8 n;
   uint8 nu1;
   uint8 SMtype[EC_MAXSM];
} ec_SMcommtypet;

typedef struct
{
   uint8 n;
   uint8 nu1;
   uint16 index[256];
} ec_PDOassignt;

typedef struct
{
   uint8 n;
   uint8 nu1;
   uint32 PDO[256];
} ec_PDOdesct;

#pragma pack(pop)

static_assert(sizeof(ec_SDOt) == 524, "SDO message is 12 header bytes and 512 data bytes");
static_assert(sizeof(ec_SDOservicet) == 524, "SDO information message is 12 + 512 bytes");
static_assert(sizeof(ec_SMcommtypet) == 10, "0x1C00 image is 10 bytes");
static_assert(sizeof(ec_PDOassignt) == 514, "0x1C1x image is 514 bytes");
static_assert(sizeof(ec_PDOdesct) == 1026, "PDO mapping image is 1026 bytes");

/* The object list of one slave, filled by the SDO information services. */
typedef struct
{
   uint16 Slave;
   uint16 Entries;
   uint16 Index[EC_MAXODLIST];
   uint16 DataType[EC_MAXODLIST];
   uint8 ObjectCode[EC_MAXODLIST];
   uint8 MaxSub[EC_MAXODLIST];
   char Name[EC_MAXODLIST][EC_MAXNAME + 1];
} ec_ODlistt;

/* The entry descriptions of one object, indexed by sub-index. */
typedef struct
{
   uint16 Entries;
   uint8 ValueInfo[EC_MAXOELIST];
   uint16 DataType[EC_MAXOELIST];
   uint16 BitLength[EC_MAXOELIST];
   uint16 ObjAccess[EC_MAXOELIST];
   char Name[EC_MAXOELIST][EC_MAXNAME + 1];
} ec_OElistt;

/* Scratch records of the complete-access read-out, overwritten on every use. */
extern ec_SMcommtypet ec_SMcommtype;
extern ec_PDOassignt ec_PDOassign;
extern ec_PDOdesct ec_PDOdesc;

/* Push an SDO abort (type EC_ERR_TYPE_SDO_ERROR), respectively an SDO information error, with the
 * slave's abort code onto the error list and set EcatError. */
void ec_SDOerror(uint16 Slave, uint16 Index, uint8 SubIdx, int32 AbortCode);
void ec_SDOinfoerror(uint16 Slave, uint16 Index, uint8 SubIdx, int32 AbortCode);

/* Upload one entry (or with CA the whole object from sub-index 0 or 1) into p. *psize is the
 * capacity of p on entry and the bytes stored on success. Returns the working counter (> 0) on
 * success, 0 after a CoE failure (an error is pushed) or a refused argument, or the mailbox
 * result (0 or less) when the transport failed. */
int ec_SDOread(uint16 slave, uint16 index, uint8 subindex, boolean CA, int *psize, void *p,
               int timeout);

/* Download psize bytes from p (never expedited; segmented when they exceed the first message).
 * Results as ec_SDOread. */
int ec_SDOwrite(uint16 Slave, uint16 Index, uint8 SubIndex, boolean CA, int psize, void *p,
                int Timeout);

/* Send one RxPDO through the mailbox; no answer is awaited. Returns the result of the send, 0 when
 * the arguments are refused. */
int ec_RxPDO(uint16 Slave, uint16 RxPDOnumber, int psize, void *p);

/* Ask for one TxPDO through the mailbox. *psize capacity in, bytes stored out. Results as
 * ec_SDOread. */
int ec_TxPDO(uint16 slave, uint16 TxPDOnumber, int *psize, void *p, int timeout);

/* Total bits of all PDOs assigned in assignment object PDOassign (0x1C1x), read entry by entry,
 * respectively with complete access. 0 when nothing is assigned or the first read fails. */
int ec_readPDOassign(uint16 Slave, uint16 PDOassign);
int ec_readPDOassignCA(uint16 Slave, uint16 PDOassign);

/* Process data layout of one slave from 0x1C00 and its assignment objects: fills SMtype[2..7],
 * the lengths of the process data SMs, and the output and input totals in bits. Returns 1 when
 * either total is positive, else 0. The CA variant reads every object with complete access. */
int ec_readPDOmap(uint16 Slave, int *Osize, int *Isize);
int ec_readPDOmapCA(uint16 Slave, int *Osize, int *Isize);

/* SDO information: the list of all objects of a slave; the description of list item Item; the
 * description of one entry, or all entries, of item Item. Each returns the last receive result
 * (> 0) on success and 0 (error pushed, or argument refused) or the receive result on failure. */
int ec_readODlist(uint16 Slave, ec_ODlistt *pODlist);
int ec_readODdescription(uint16 Item, ec_ODlistt *pODlist);
int ec_readOEsingle(uint16 Item, uint8 SubI, ec_ODlistt *pODlist, ec_OElistt *pOElist);
int ec_readOE(uint16 Item, ec_ODlistt *pODlist, ec_OElistt *pOElist);

#endif
