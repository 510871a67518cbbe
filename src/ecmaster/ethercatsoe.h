/*
 * Servo drive profile over EtherCAT (SoE): reading and writing elements of a drive's IDNs through
 * the mailbox, fragmented in both directions, and the read-out of a drive's process data sizes
 * from its IDN configuration lists (IDN 24 for outputs, IDN 16 for inputs), used by the process
 * data mapping when CoE gave none.
 *
 * Lengths in a drive's answers are held against the bytes its read mailbox carried before a copy
 * or a read of the error code; an answer that claims more is an unexpected frame (packet error 1).
 */
#ifndef ETHERCATSOE_H
#define ETHERCATSOE_H

#include "ethercattype.h"

/* SoE operation codes. */
enum
{
   ECT_SOE_READREQ = 0x01,
   ECT_SOE_READRES = 0x02,
   ECT_SOE_WRITEREQ = 0x03,
   ECT_SOE_WRITERES = 0x04,
   ECT_SOE_NOTIFICATION = 0x05,
   ECT_SOE_EMERGENCY = 0x06
};

/* Element flags: which elements of an IDN are meant. */
#define EC_SOE_DATASTATE_B 0x01
#define EC_SOE_NAME_B 0x02
#define EC_SOE_ATTRIBUTE_B 0x04
#define EC_SOE_UNIT_B 0x08
#define EC_SOE_MIN_B 0x10
#define EC_SOE_MAX_B 0x20
#define EC_SOE_VALUE_B 0x40
#define EC_SOE_DEFAULT_B 0x80

/* The configuration lists of the process data: IDN 16 (drive to master, inputs) and IDN 24
 * (master to drive, outputs). */
#define EC_IDN_MDTCONFIG 24
#define EC_IDN_ATCONFIG 16

/* Entries an IDN list can hold in SoEmapping. */
#define EC_SOE_MAXMAPPING 64

#pragma pack(push, 1)

/* An SoE message as it lies in a mailbox buffer. */
typedef struct __attribute__((may_alias))
{
   ec_mbxheadert MbxHeader;
   uint8 opCode : 3;
   uint8 incomplete : 1;
   uint8 error : 1;
   uint8 driveNo : 3;
   uint8 elementflags;
   union
   {
      uint16 idn;
      uint16 fragmentsleft;
   };
} ec_SoEt;

/* The attribute element of an IDN. */
typedef struct
{
   uint32 evafactor : 16;
   uint32 length : 2;
   uint32 list : 1;
   uint32 command : 1;
   uint32 datatype : 3;
   uint32 reserved1 : 1;
   uint32 decimals : 4;
   uint32 wppreop : 1;
   uint32 wpsafeop : 1;
   uint32 wpop : 1;
   uint32 reserved2 : 1;
} ec_SoEattributet;

/* The value of an IDN list: bytes in use, bytes available, then the IDNs. */
typedef struct
{
   uint16 currentlength;
   uint16 maxlength;
   uint16 idn[EC_SOE_MAXMAPPING];
} ec_SoEmappingt;

#pragma pack(pop)

static_assert(sizeof(ec_SoEt) == 10, "SoE header with mailbox header is 10 bytes");
static_assert(sizeof(ec_SoEattributet) == 4, "IDN attribute is one 32-bit word");
static_assert(sizeof(ec_SoEmappingt) == 132, "IDN list of 64 entries is 132 bytes");

/* Scratch records of ec_readIDNmap, overwritten by every call. */
extern ec_SoEmappingt SoEmapping;
extern ec_SoEattributet SoEattribute;

/* Push an SoE error (type EC_ERR_TYPE_SOE_ERROR) with the drive's error code and set EcatError. */
void ec_SoEerror(uint16 Slave, uint16 idn, uint16 Error);

/* Read the elements `elementflags` of one IDN into p. *psize is the capacity on entry and the bytes
 * stored once the last fragment arrived; bytes beyond the capacity are dropped. Returns the working
 * counter (> 0) on success, 0 after an SoE or packet error (pushed) or a refused argument, or the
 * receive result (0 or less) when no answer came. */
int ec_SoEread(uint16 slave, uint8 driveNo, uint8 elementflags, uint16 idn, int *psize, void *p,
               int timeout);

/* Write psize bytes from p to the elements `elementflags` of one IDN, in fragments of at most
 * mbx_l - 10 bytes. Results as ec_SoEread; a slave whose mailbox cannot carry one data byte is
 * refused with packet error 3 and 0. */
int ec_SoEwrite(uint16 slave, uint8 driveNo, uint8 elementflags, uint16 idn, int psize, void *p,
                int timeout);

/* Output and input process data sizes in bits from IDN 24 and IDN 16. Returns 1 when either is
 * positive, else 0. */
int ec_readIDNmap(uint16 slave, int *Osize, int *Isize);

#endif
