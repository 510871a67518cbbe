/*
 * The master's global tables. They live here, in the lowest layer, so that every layer above only
 * declares and uses them; all are zero at program start and refilled by the layers that own them.
 */
#include "ethercattype.h"

ec_slavet ec_slave[EC_MAXSLAVE];
int ec_slavecount;
ec_groupt ec_group[EC_MAXGROUP];
ec_eringt ec_elist;
boolean EcatError = FALSE;
ec_idxstackT ec_idxstack;

uint8 esibuf[EC_MAXEEPBUF];
uint32 esimap[EC_MAXEEPBITMAP];
uint16 esislave;
uint8 esifailed[EC_MAXSLAVE];

int64 ec_DCtime;
uint16 ec_DCtO;
uint16 ec_DCl;
