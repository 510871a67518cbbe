/*
 * Bring-up of the axis bus: open the port, enumerate and map every slave, take the whole bus to
 * OPERATIONAL and count the wheel-base ("platform") and arm controllers by their EEPROM names. The
 * results travel back in one EtherCat_Info record. Also the matching shut-down and a check that
 * the whole bus sits in SAFE-OP.
 *
 * Between init_ethercatMaster and stop_ethercat the command mailbox (zuvian.h) can be used on any
 * slave. Plain functions over the master's tables; the process image is the module's own IOmap.
 */
#ifndef ZUVIANBRINGUP_H
#define ZUVIANBRINGUP_H

#include "ethercatconfigmap.h"
#include "ethercattype.h"

#define ZUVIAN_MAXPARAMS 90  /* entries of the parameter read list */
#define ZUVIAN_MAXSINEAXES 5 /* axes whose sine commutation start is remembered */

/* One entry of the parameter read list; `type` 0 marks a free entry. */
typedef struct
{
   uint8 axis;
   uint8 type;
   uint8 value; /* low 8 bits of the value read */
   char *desc;
} ParamInfo;

/* Handed between the axis service and the bring-up: the caller fills ifname and the two names,
 * the bring-up the counts, status, params and, after a failure, error. */
typedef struct
{
   char *ifname;
   uint32 allslavecnt;
   uint32 platformslavecnt;
   uint32 armslavecnt;
   char platformslaveName[EC_MAXNAME + 1];
   char armslaveName[EC_MAXNAME + 1];
   uint32 status;
   ParamInfo params[ZUVIAN_MAXPARAMS];
   char *error;
} EtherCat_Info;

/* The process image every slave is mapped into. */
extern uint8 IOmap[EC_IOMAPSIZE];
/* Axes whose sine commutation was started in this bus session; 0 is a free slot. */
extern uint8 initSineAxis[ZUVIAN_MAXSINEAXES];

/* Bring the bus up on eInf->ifname. 0 when the bus is OPERATIONAL (status 8), and also when the
 * port did not open (all counts 0, no text) or no slave answered (counts 0, error set); -1 when not
 * every slave reached OPERATIONAL (counts valid, error set). The port stays open except when it
 * did not open. */
int init_ethercatMaster(EtherCat_Info *eInf);

/* Count the controllers among slaves 1..nrOfAllSlaves that have process data in both directions
 * into platformslavecnt and armslavecnt. Always 0. */
int getSlavesWithIO(uint32 nrOfAllSlaves, EtherCat_Info *eInf);

/* Ask every slave for SAFE-OP without waiting and close the port. Always 0. */
int stop_ethercat(void);

/* 0 when every slave is in SAFE-OP within 2 s, else -1 (the slave table then holds every slave's
 * state). `slave` is not used. */
int checkOPState(uint8 *slave);

#endif
