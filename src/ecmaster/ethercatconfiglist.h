/*
 * Built-in descriptions of a few simple slaves, used by the enumeration instead of the slave's own
 * SII when a caller asks for the table (ec_config_init with usetable set).
 *
 * Row 0 never matches; the last row carries man = EC_CONFIGEND and ends the search.
 */
#ifndef ETHERCATCONFIGLIST_H
#define ETHERCATCONFIGLIST_H

#include "ethercattype.h"

/* Vendor id of the row that ends the list. */
#define EC_CONFIGEND 0xFFFFFFFFu

typedef struct
{
   uint32 man;
   uint32 id;
   char name[EC_MAXNAME + 1];
   uint8 Dtype;
   uint16 Ibits;
   uint16 Obits;
   uint16 SM2a;
   uint32 SM2f;
   uint16 SM3a;
   uint32 SM3f;
   uint8 FM0ac;
   uint8 FM1ac;
} ec_configentryt;

extern const ec_configentryt ec_configlist[EC_MAXCONFIGLIST];

#endif
