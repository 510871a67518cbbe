/*
 * Bring-up and shut-down of the axis bus (see zuvianbringup.h).
 *
 * The bus goes SAFE-OP -> OPERATIONAL with one process data exchange in between, since a slave
 * only leaves SAFE-OP once it has seen valid outputs. Controllers are told apart by the exact name
 * in their EEPROM and counted only when they have process data in both directions.
 */
#include "zuvianbringup.h"

#include <stdio.h>
#include <string.h>

#include "ethercatconfig.h"
#include "ethercatconfigmap.h"
#include "ethercatmain.h"
#include "ethercatprocessdata.h"
#include "nicdrv.h"

uint8 IOmap[EC_IOMAPSIZE];
uint8 initSineAxis[ZUVIAN_MAXSINEAXES];

static char zuvian_textnoslaves[] = "ERROR: No slaves found!";
static char zuvian_textnotop[] = "ERROR:Not all slaves reached operational state";
static char zuvian_textsii[] = "ERROR: The EEPROM of a slave could not be read!";
static char zuvian_texttoomany[] = "ERROR: More slaves on the bus than the master can hold!";

typedef enum
{
   ZUVIAN_OTHER,
   ZUVIAN_PLATFORM,
   ZUVIAN_ARM
} zuvian_kind;

typedef struct
{
   const char *name;
   zuvian_kind kind;
} zuvian_model;

static const zuvian_model zuvian_models[] = {
   {"TMCM-174", ZUVIAN_PLATFORM},
   {"TMCM-1632", ZUVIAN_PLATFORM},
   {"TMCM-ZQ-841", ZUVIAN_ARM},
   {"TMCM-1610", ZUVIAN_ARM},
};

/* What the slave counts as: its name must equal a model name exactly. */
static zuvian_kind zuvian_kindof(const ec_slavet *sl)
{
   for (size_t m = 0; m < sizeof zuvian_models / sizeof zuvian_models[0]; m++)
      if (strncmp(sl->name, zuvian_models[m].name, sizeof sl->name) == 0)
         return zuvian_models[m].kind;
   return ZUVIAN_OTHER;
}

int getSlavesWithIO(uint32 nrOfAllSlaves, EtherCat_Info *eInf)
{
   if (eInf == NULL)
      return 0;
   /* Never look past the slave table, whatever the caller asks for. */
   uint32 last = nrOfAllSlaves < EC_MAXSLAVE - 1 ? nrOfAllSlaves : EC_MAXSLAVE - 1;
   uint32 platform = 0;
   uint32 arm = 0;
   for (uint32 n = 1; n <= last; n++)
   {
      const ec_slavet *sl = &ec_slave[n];
      if (sl->Obits == 0 || sl->Ibits == 0)
         continue;
      zuvian_kind kind = zuvian_kindof(sl);
      if (kind == ZUVIAN_PLATFORM)
         platform++;
      else if (kind == ZUVIAN_ARM)
         arm++;
   }
   eInf->platformslavecnt = platform;
   eInf->armslavecnt = arm;
   return 0;
}

static void zuvian_clearcounts(EtherCat_Info *eInf)
{
   eInf->allslavecnt = 0;
   eInf->platformslavecnt = 0;
   eInf->armslavecnt = 0;
}

int init_ethercatMaster(EtherCat_Info *eInf)
{
   if (eInf == NULL)
      return -1;
   memset(initSineAxis, 0, sizeof initSineAxis);
   memset(eInf->params, 0, sizeof eInf->params);

   if (eInf->ifname == NULL || ec_init(eInf->ifname) <= 0)
   {
      zuvian_clearcounts(eInf);
      return 0;
   }
   int found = ec_config(0, IOmap);
   if (found == EC_SIIFAILED)
   {
      /* Counting controllers by names read as zeros would put the axes in the wrong places. */
      printf("The EEPROM (SII) of a slave could not be read completely\n");
      zuvian_clearcounts(eInf);
      eInf->error = zuvian_textsii;
      return 0;
   }
   if (found == EC_TOOMANYSLAVES)
   {
      printf("More slaves on the bus than the master can hold\n");
      zuvian_clearcounts(eInf);
      eInf->error = zuvian_texttoomany;
      return 0;
   }
   if (found <= 0)
   {
      printf("No slaves found\n");
      zuvian_clearcounts(eInf);
      eInf->error = zuvian_textnoslaves;
      return 0;
   }
   eInf->allslavecnt = (uint32)ec_slavecount;
   getSlavesWithIO((uint32)ec_slavecount, eInf);

   ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUT_STATECHANGE);
   ec_slave[0].state = EC_STATE_OPERATIONAL;
   /* One cycle of valid outputs before the OPERATIONAL request. */
   ec_send_processdata();
   ec_receive_processdata(EC_TIMEOUT_FRAME);
   ec_writestate(0);
   ec_statecheck(0, EC_STATE_OPERATIONAL, EC_TIMEOUT_STATECHANGE);
   if (ec_slave[0].state == EC_STATE_OPERATIONAL)
   {
      eInf->status = EC_STATE_OPERATIONAL;
      return 0;
   }
   printf("Not all slaves reached operational state.\n");
   eInf->error = zuvian_textnotop;
   ec_readstate();
   return -1;
}

int stop_ethercat(void)
{
   ec_slave[0].state = EC_STATE_SAFE_OP;
   ec_writestate(0);
   ec_close();
   return 0;
}

int checkOPState(uint8 *slave)
{
   (void)slave;
   if (ec_statecheck(0, EC_STATE_SAFE_OP, EC_TIMEOUT_STATECHANGE) == EC_STATE_SAFE_OP)
      return 0;
   printf("Not all slaves reached safe operational state.");
   ec_readstate();
   return -1;
}
