/*
 * The EtherCAT master's shared vocabulary: basic types, limits, time-outs, wire records, command,
 * state and register codes, and the global tables that every layer of the master (and the
 * controller protocol above it) works on.
 *
 * Everything the master keeps lives in fixed-size tables declared here; nothing is allocated at
 * run time. Wire records are packed and their sizes are checked at compile time, because they are
 * laid over frame and mailbox bytes as they stand. Fields on the EtherCAT wire are little-endian;
 * the master runs on a little-endian host and does not convert them (checked below). Only the
 * words of the Ethernet header travel in network order.
 *
 * Codes that belong to one mailbox protocol (CoE, FoE, SoE services) or to the SII layout live in
 * the headers of their layers.
 */
#ifndef ETHERCATTYPE_H
#define ETHERCATTYPE_H

#include <stdint.h>
#include <string.h>
#include <sys/time.h>

/* ---- basic types ---- */

typedef uint8_t uint8;
typedef uint16_t uint16;
typedef uint32_t uint32;
typedef uint64_t uint64;
typedef int8_t int8;
typedef int16_t int16;
typedef int32_t int32;
typedef int64_t int64;
typedef uint8 boolean;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the master lays wire records over frame bytes and needs a little-endian host"
#endif

/* ---- limits ---- */

#define EC_MAXSLAVE 200     /* slave table entries; entry 0 sums up the bus, so 199 slaves */
#define EC_MAXGROUP 8       /* process data groups 0..7 */
#define EC_MAXIOSEGMENTS 64 /* IO segments (one frame each) per group */
#define EC_MAXSM 8          /* SyncManagers per slave */
#define EC_MAXFMMU 4        /* FMMUs per slave */
#define EC_MAXNAME 36       /* characters of a slave or object name, NUL not counted */
#define EC_MAXBUF 16        /* frame buffers per port, one per frame index */
#define EC_BUFSIZE 1518     /* one Ethernet frame without the frame check sequence */
#define EC_MAXMBX 1024      /* mailbox buffer */
#define EC_MAXEEPBUF 4096   /* SII cache: byte addresses 0..4095 */
#define EC_MAXEEPBITMAP 128 /* SII cache bitmap: 32-bit words, one bit per cached byte */
#define EC_MAXELIST 64      /* unread entries the error ring can hold (it has one slot more) */
#define EC_MAXCONFIGLIST 24 /* rows of the built-in slave configuration list */
#define EC_MAXEEPDO 512     /* PDOs of one SII PDO list */
#define EC_MAXODLIST 1024   /* objects of a CoE object dictionary list */
#define EC_MAXOELIST 256    /* entries of a CoE object entry list */

/* ---- frame layout ---- */

#define ETH_P_ECAT 0x88A4         /* EtherType of EtherCAT */
#define ETH_HEADERSIZE 14         /* Ethernet header in front of the EtherCAT header */
#define EC_HEADERSIZE 2           /* EtherCAT frame header: the elength word */
#define EC_DGHEADERSIZE 10        /* datagram header: command .. irpt */
#define EC_WKCSIZE 2              /* working counter behind the data of each datagram */
#define EC_ELENGTHMASK 0x0FFF     /* the 11 length bits of elength (the master reads 12) */
#define EC_ELENGTHTYPE 0x1000     /* type 1 in bits 12..15 of elength: EtherCAT commands */
#define EC_DLENGTHMASK 0x07FF     /* data length bits of dlength */
#define EC_DATAGRAMFOLLOWS 0x8000 /* dlength bit 15: another datagram follows */
/* Frame length of one datagram without data, and the data offset of the first datagram inside a
 * receive buffer (which holds the frame without its Ethernet header). */
#define EC_FRAMEOVERHEAD (ETH_HEADERSIZE + EC_HEADERSIZE + EC_DGHEADERSIZE + EC_WKCSIZE)
#define EC_FIRSTDATAOFFSET (EC_HEADERSIZE + EC_DGHEADERSIZE)
/* Most data one datagram can carry in a frame buffer. */
#define EC_MAXDATA (EC_BUFSIZE - EC_FRAMEOVERHEAD)

/* ---- time-outs, in microseconds: the timing model lives in ectiming.h ---- */

#include "ectiming.h"

/* ---- buffer types ---- */

typedef uint8 ec_bufT[EC_BUFSIZE];
typedef uint8 ec_mbxbuft[EC_MAXMBX];

/* ---- wire records ---- */

#pragma pack(push, 1)

/* Ethernet header; every word in network byte order. */
typedef struct
{
   uint16 da0, da1, da2;
   uint16 sa0, sa1, sa2;
   uint16 etype;
} ec_etherheadert;

/* EtherCAT frame header and the header of its first datagram. */
typedef struct
{
   uint16 elength;
   uint8 command;
   uint8 index;
   uint16 ADP;
   uint16 ADO;
   uint16 dlength;
   uint16 irpt;
} ec_comt;

typedef struct
{
   uint16 length;
   uint16 address;
   uint8 priority;
   uint8 mbxtype;
} ec_mbxheadert;

typedef struct
{
   ec_mbxheadert MbxHeader;
   uint16 CANOpen;
   uint16 ErrorCode;
   uint8 ErrorReg;
   uint8 bData;
   uint16 w1;
   uint16 w2;
} ec_emcyt;

typedef struct
{
   uint16 alstatus;
   uint16 unused;
   uint16 alstatuscode;
} ec_alstatust;

typedef struct
{
   uint16 StartAddr;
   uint16 SMlength;
   uint32 SMflags;
} ec_smt;

typedef struct
{
   uint32 LogStart;
   uint16 LogLength;
   uint8 LogStartbit;
   uint8 LogEndbit;
   uint16 PhysStart;
   uint8 PhysStartBit;
   uint8 FMMUtype;
   uint8 FMMUactive;
   uint8 unused1;
   uint16 unused2;
} ec_fmmut;

#pragma pack(pop)

static_assert(sizeof(ec_etherheadert) == ETH_HEADERSIZE, "Ethernet header is 14 bytes");
static_assert(sizeof(ec_comt) == EC_HEADERSIZE + EC_DGHEADERSIZE,
              "EtherCAT + datagram header is 12 bytes");
static_assert(sizeof(ec_mbxheadert) == 6, "mailbox header is 6 bytes");
static_assert(sizeof(ec_emcyt) == 16, "emergency message is 16 bytes");
static_assert(sizeof(ec_alstatust) == 6, "AL status block is 6 bytes");
static_assert(sizeof(ec_smt) == 8, "SyncManager block is 8 bytes");
static_assert(sizeof(ec_fmmut) == 16, "FMMU block is 16 bytes");
static_assert(EC_MAXDATA == 1490, "one datagram carries at most 1490 data bytes");

/* ---- codes ---- */

/* Datagram commands. */
typedef enum
{
   EC_CMD_NOP = 0x00,
   EC_CMD_APRD = 0x01,
   EC_CMD_APWR = 0x02,
   EC_CMD_APRW = 0x03,
   EC_CMD_FPRD = 0x04,
   EC_CMD_FPWR = 0x05,
   EC_CMD_FPRW = 0x06,
   EC_CMD_BRD = 0x07,
   EC_CMD_BWR = 0x08,
   EC_CMD_BRW = 0x09,
   EC_CMD_LRD = 0x0A,
   EC_CMD_LWR = 0x0B,
   EC_CMD_LRW = 0x0C,
   EC_CMD_ARMW = 0x0D,
   EC_CMD_FRMW = 0x0E
} ec_cmdtype;

/* Mailbox types (low nibble of mbxtype; the counter sits in bits 4..6). */
enum
{
   ECT_MBXT_ERR = 0x00,
   ECT_MBXT_AOE = 0x01,
   ECT_MBXT_EOE = 0x02,
   ECT_MBXT_COE = 0x03,
   ECT_MBXT_FOE = 0x04,
   ECT_MBXT_SOE = 0x05,
   ECT_MBXT_VOE = 0x0F
};

/* CoE service number of an emergency (bits 12..15 of CANOpen); the other services belong to the
 * CoE layer. */
#define ECT_COES_EMERGENCY 0x01

/* AL states. ACK and ERROR are the same bit: an acknowledge in AL Control, an error flag in AL
 * Status. The state proper is the low nibble. */
typedef enum
{
   EC_STATE_INIT = 0x01,
   EC_STATE_PRE_OP = 0x02,
   EC_STATE_BOOT = 0x03,
   EC_STATE_SAFE_OP = 0x04,
   EC_STATE_OPERATIONAL = 0x08,
   EC_STATE_ACK = 0x10,
   EC_STATE_ERROR = 0x10
} ec_state;

/* States of a frame buffer, one per frame index and port. */
enum
{
   EC_BUF_EMPTY = 0x00,
   EC_BUF_ALLOC = 0x01,
   EC_BUF_TX = 0x02,
   EC_BUF_RCVD = 0x03,
   EC_BUF_COMPLETE = 0x04
};

/* Redundancy of the port. */
enum
{
   ECT_RED_NONE = 0,
   ECT_RED_DOUBLE = 1
};

/* Kinds of entries of the error list. */
typedef enum
{
   EC_ERR_TYPE_SDO_ERROR = 0,
   EC_ERR_TYPE_EMERGENCY = 1,
   EC_ERR_TYPE_PACKET_ERROR = 3,
   EC_ERR_TYPE_SDOINFO_ERROR = 4,
   EC_ERR_TYPE_FOE_ERROR = 5,
   EC_ERR_TYPE_FOE_BUF2SMALL = 6,
   EC_ERR_TYPE_FOE_PACKETNUMBER = 7,
   EC_ERR_TYPE_SOE_ERROR = 8
} ec_err_type;

/* ESC registers the master uses. */
enum
{
   ECT_REG_TYPE = 0x0000,
   ECT_REG_PORTDES = 0x0007,
   ECT_REG_ESCSUP = 0x0008,
   ECT_REG_STADR = 0x0010,
   ECT_REG_ALIAS = 0x0012,
   ECT_REG_DLCTL = 0x0100,
   ECT_REG_DLPORT = 0x0101,
   ECT_REG_DLALIAS = 0x0103,
   ECT_REG_DLSTAT = 0x0110,
   ECT_REG_ALCTL = 0x0120,
   ECT_REG_ALSTAT = 0x0130,
   ECT_REG_ALSTATCODE = 0x0134,
   ECT_REG_PDICTL = 0x0140,
   ECT_REG_IRQMASK = 0x0200,
   ECT_REG_RXERR = 0x0300,
   ECT_REG_EEPCFG = 0x0500,
   ECT_REG_EEPCTL = 0x0502,
   ECT_REG_EEPSTAT = 0x0502,
   ECT_REG_EEPADR = 0x0504,
   ECT_REG_EEPDAT = 0x0508,
   ECT_REG_FMMU0 = 0x0600,
   ECT_REG_FMMU1 = ECT_REG_FMMU0 + 0x10,
   ECT_REG_FMMU2 = ECT_REG_FMMU1 + 0x10,
   ECT_REG_FMMU3 = ECT_REG_FMMU2 + 0x10,
   ECT_REG_SM0 = 0x0800,
   ECT_REG_SM1 = ECT_REG_SM0 + 0x08,
   ECT_REG_SM2 = ECT_REG_SM1 + 0x08,
   ECT_REG_SM3 = ECT_REG_SM2 + 0x08,
   ECT_REG_SM0STAT = ECT_REG_SM0 + 0x05,
   ECT_REG_SM1STAT = ECT_REG_SM1 + 0x05,
   ECT_REG_SM1ACT = ECT_REG_SM1 + 0x06,
   ECT_REG_SM1CONTR = ECT_REG_SM1 + 0x07,
   ECT_REG_DCTIME0 = 0x0900,
   ECT_REG_DCTIME1 = 0x0904,
   ECT_REG_DCTIME2 = 0x0908,
   ECT_REG_DCTIME3 = 0x090C,
   ECT_REG_DCSYSTIME = 0x0910,
   ECT_REG_DCSOF = 0x0918,
   ECT_REG_DCSYSOFFSET = 0x0920,
   ECT_REG_DCSYSDELAY = 0x0928,
   ECT_REG_DCSPEEDCNT = 0x0930,
   ECT_REG_DCTIMEFILT = 0x0934,
   ECT_REG_DCCUC = 0x0980,
   ECT_REG_DCSYNCACT = 0x0981,
   ECT_REG_DCSTART0 = 0x0990,
   ECT_REG_DCCYCLE0 = 0x09A0,
   ECT_REG_DCCYCLE1 = 0x09A4
};

/* ---- records of the master's tables ---- */

/* One entry of the error list. AbortCode shares its storage with the emergency fields. */
typedef struct
{
   struct timeval Time;
   boolean Signal;
   uint16 Slave;
   uint16 Index;
   uint8 SubIdx;
   ec_err_type Etype;
   union
   {
      int32 AbortCode;
      struct
      {
         uint16 ErrorCode;
         uint8 ErrorReg;
         uint8 b1;
         uint16 w1;
         uint16 w2;
      };
   };
} ec_errort;

/* Error ring: empty when head == tail, so one of its slots always stays free. */
typedef struct
{
   int16 head;
   int16 tail;
   ec_errort Error[EC_MAXELIST + 1];
} ec_eringt;

/* One slave; entry 0 of the table stands for the whole bus. */
typedef struct
{
   uint16 state;
   uint16 ALstatuscode;
   uint16 configadr;
   uint16 aliasadr;
   uint32 eep_man;
   uint32 eep_id;
   uint32 eep_rev;
   uint16 Itype;
   uint16 Dtype;
   uint16 Obits;
   uint32 Obytes;
   uint8 *outputs;
   uint8 Ostartbit;
   uint16 Ibits;
   uint32 Ibytes;
   uint8 *inputs;
   uint8 Istartbit;
   ec_smt SM[EC_MAXSM];
   uint8 SMtype[EC_MAXSM];
   ec_fmmut FMMU[EC_MAXFMMU];
   uint8 FMMU0func;
   uint8 FMMU1func;
   uint8 FMMU2func;
   uint8 FMMU3func;
   uint16 mbx_l;
   uint16 mbx_wo;
   uint16 mbx_rl;
   uint16 mbx_ro;
   uint16 mbx_proto;
   uint8 mbx_cnt;
   boolean hasdc;
   uint8 ptype;
   uint8 topology;
   uint8 activeports;
   uint8 consumedports;
   uint16 parent;
   uint8 parentport;
   uint8 entryport;
   int32 DCrtA;
   int32 DCrtB;
   int32 DCrtC;
   int32 DCrtD;
   int32 pdelay;
   uint16 DCnext;
   uint16 DCprevious;
   int32 DCcycle;
   int32 DCshift;
   uint8 DCactive;
   uint16 configindex;
   uint16 SIIindex;
   uint8 eep_8byte;
   uint8 eep_pdi;
   uint8 CoEdetails;
   uint8 FoEdetails;
   uint8 EoEdetails;
   uint8 SoEdetails;
   int16 Ebuscurrent;
   uint8 blockLRW;
   uint8 group;
   uint8 FMMUunused;
   boolean islost;
   int (*PO2SOconfig)(uint16 slave);
   char name[EC_MAXNAME + 1];
} ec_slavet;

/* One process data group. */
typedef struct
{
   uint32 logstartaddr;
   uint32 Obytes;
   uint8 *outputs;
   uint32 Ibytes;
   uint8 *inputs;
   boolean hasdc;
   uint16 DCnext;
   int16 Ebuscurrent;
   uint8 blockLRW;
   uint16 nsegments;
   uint16 Isegment;
   uint16 Ioffset;
   uint16 expectedWKC;
   boolean docheckstate;
   uint32 IOsegment[EC_MAXIOSEGMENTS];
} ec_groupt;

/* Frames of one process data cycle that are in flight, and where their data go back. */
typedef struct
{
   uint8 pushed;
   uint8 pulled;
   uint8 idx[EC_MAXBUF];
   void *data[EC_MAXBUF];
   uint16 length[EC_MAXBUF];
} ec_idxstackT;

/* ---- global tables ---- */

extern ec_slavet ec_slave[EC_MAXSLAVE];
extern int ec_slavecount;
extern ec_groupt ec_group[EC_MAXGROUP];
extern ec_eringt ec_elist;
extern boolean EcatError;
extern ec_idxstackT ec_idxstack;

/* SII cache: the bytes of one slave's EEPROM, bit b of esimap[w] set when byte 32*w+b is valid. */
extern uint8 esibuf[EC_MAXEEPBUF];
extern uint32 esimap[EC_MAXEEPBITMAP];
extern uint16 esislave;
/* Per slave, 1 when one of its SII reads failed since the last enumeration: what was taken from
 * its SII may be a default or a zero instead of its content and must not be used. */
extern uint8 esifailed[EC_MAXSLAVE];

/* The reference clock's time of the last process data cycle, and where its datagram sits. */
extern int64 ec_DCtime;
extern uint16 ec_DCtO;
extern uint16 ec_DCl;

/* ---- little-endian access to frame and mailbox bytes ---- */

/* Unaligned reads and writes of wire values; the host is little-endian, so these only avoid
 * misaligned loads. */
static inline uint16 ec_get16(const uint8 *p)
{
   uint16 v;
   memcpy(&v, p, sizeof v);
   return v;
}

static inline uint32 ec_get32(const uint8 *p)
{
   uint32 v;
   memcpy(&v, p, sizeof v);
   return v;
}

static inline void ec_put16(uint8 *p, uint16 v)
{
   memcpy(p, &v, sizeof v);
}

#endif
