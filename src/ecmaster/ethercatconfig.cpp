/*
 * Bus enumeration: count the slaves, reset them to INIT, give slave n the station address
 * 0x1000 + n, read identity and mailbox layout from every SII (all slaves in parallel), fill the
 * slave table from the SII or from the built-in list, program the mailbox SyncManagers and ask
 * every slave for PRE-OP.
 */
#include "ethercatconfig.h"

#include <stdio.h>
#include <string.h>

#include "ethercatbase.h"
#include "ethercatconfiglist.h"
#include "ethercatmain.h"

/* Scratch records for one slave's SII SyncManager and FMMU categories. */
static ec_eepromSMt ec_SM;
static ec_eepromFMMUt ec_FMMU;

/* SyncManager flags of the mailboxes and of a simple output slave. */
#define EC_SMFLAGS_MBXOUT 0x00010026
#define EC_SMFLAGS_MBXIN 0x00010022
#define EC_SMFLAGS_SIMPLEOUT 0x00010044
/* Mailbox layout taken when the SII leaves a start address at 0. */
#define EC_DEFAULTMBXOUT 0x1000
#define EC_DEFAULTMBXIN 0x1080
/* ESC feature bit: distributed clocks. */
#define EC_ESCSUP_DC 0x0004

static void ec_setsm(ec_smt *sm, uint16 start, uint16 length, uint32 flags)
{
   sm->StartAddr = start;
   sm->SMlength = length;
   sm->SMflags = flags;
}

/* A SyncManager as the SII's SM category entry describes it: control byte low, activate byte in
 * bits 16..23 of the flags. */
static void ec_setsm_sii(ec_smt *sm, const ec_eepromSMt *entry)
{
   ec_setsm(sm, entry->PhStart, entry->Plength,
            (uint32)entry->Creg + ((uint32)entry->Activate << 16));
}

/* Forget everything of an earlier enumeration. The SII cache is dropped as well: after a
 * re-plug another device may sit at the same slave number. */
static void ec_config_clear(void)
{
   ec_slavecount = 0;
   memset(ec_slave, 0, sizeof ec_slave);
   memset(ec_group, 0, sizeof ec_group);
   for (int g = 0; g < EC_MAXGROUP; g++)
      ec_group[g].logstartaddr = (uint32)g << 16;
   memset(esimap, 0, sizeof esimap);
   memset(esifailed, 0, sizeof esifailed);
   esislave = 0;
}

static void ec_bwrbyte(uint16 ado, uint8 value)
{
   ec_BWR(0, ado, sizeof value, &value, EC_TIMEOUT_FRAME);
}

static void ec_bwrword(uint16 ado, uint16 value)
{
   ec_BWR(0, ado, sizeof value, &value, EC_TIMEOUT_FRAME);
}

/* Reset every slave to a known state: ports automatic, receive errors, FMMUs, SyncManagers and DC
 * cleared, INIT with acknowledge, EEPROM to the master. */
static void ec_config_resetbus(void)
{
   uint8 zbuf[64];
   memset(zbuf, 0, sizeof zbuf);
   ec_bwrbyte(ECT_REG_DLPORT, 0);
   ec_bwrword(ECT_REG_IRQMASK, 0x0004);
   ec_BWR(0, ECT_REG_RXERR, 8, zbuf, EC_TIMEOUT_FRAME);
   ec_BWR(0, ECT_REG_FMMU0, 16 * 3, zbuf, EC_TIMEOUT_FRAME);
   ec_BWR(0, ECT_REG_SM0, 8 * 4, zbuf, EC_TIMEOUT_FRAME);
   ec_BWR(0, ECT_REG_DCSYSTIME, 4, zbuf, EC_TIMEOUT_FRAME);
   ec_bwrword(ECT_REG_DCSPEEDCNT, 0x1000);
   ec_bwrword(ECT_REG_DCTIMEFILT, 0x0C00);
   ec_bwrbyte(ECT_REG_DLALIAS, 0);
   ec_bwrbyte(ECT_REG_ALCTL, EC_STATE_INIT | EC_STATE_ACK);
   ec_bwrbyte(ECT_REG_EEPCFG, 0x02);
   ec_bwrbyte(ECT_REG_EEPCFG, 0x00);
}

/* Give slave n its station address by position and start its first SII read. */
static void ec_config_address(uint16 n)
{
   uint16 adp = (uint16)(1 - n);
   ec_slavet *s = &ec_slave[n];
   s->Itype = ec_APRDw(adp, ECT_REG_PDICTL, EC_TIMEOUT_FRAME);
   ec_APWRw(adp, ECT_REG_STADR, (uint16)(n + 0x1000), EC_TIMEOUT_FRAME);
   ec_APWRw(adp, ECT_REG_DLCTL, n == 1 ? 1 : 0, EC_TIMEOUT_FRAME);
   s->configadr = ec_APRDw(adp, ECT_REG_STADR, EC_TIMEOUT_FRAME);
   uint16 word = 0;
   ec_FPRD(s->configadr, ECT_REG_ALIAS, sizeof word, &word, EC_TIMEOUT_FRAME);
   s->aliasadr = word;
   word = 0;
   ec_FPRD(s->configadr, ECT_REG_EEPSTAT, sizeof word, &word, EC_TIMEOUT_FRAME);
   if (word & EC_ESTAT_R64)
      s->eep_8byte = 1;
   ec_readeeprom1(n, ECT_SII_MANUF);
}

/* Collect the identity and mailbox words of every slave, one EEPROM read in flight per slave. */
static void ec_config_readsii(int count)
{
   for (int n = 1; n <= count; n++)
   {
      ec_slave[n].eep_man = ec_readeeprom2((uint16)n, EC_TIMEOUT_SAFE);
      ec_readeeprom1((uint16)n, ECT_SII_ID);
   }
   for (int n = 1; n <= count; n++)
   {
      ec_slave[n].eep_id = ec_readeeprom2((uint16)n, EC_TIMEOUT_SAFE);
      ec_readeeprom1((uint16)n, ECT_SII_REV);
   }
   for (int n = 1; n <= count; n++)
   {
      ec_slave[n].eep_rev = ec_readeeprom2((uint16)n, EC_TIMEOUT_SAFE);
      ec_readeeprom1((uint16)n, ECT_SII_RXMBXADR);
   }
   for (int n = 1; n <= count; n++)
   {
      uint32 mbx = ec_readeeprom2((uint16)n, EC_TIMEOUT_SAFE);
      ec_slave[n].mbx_wo = (uint16)(mbx & 0xFFFF);
      ec_slave[n].mbx_l = (uint16)(mbx >> 16);
      if (ec_slave[n].mbx_l > 0)
         ec_readeeprom1((uint16)n, ECT_SII_TXMBXADR);
   }
}

/* Open ports from DL Status: a port is open when its two status bits read binary 10. */
static void ec_config_ports(uint16 n)
{
   ec_slavet *s = &ec_slave[n];
   s->hasdc = (ec_FPRDw(s->configadr, ECT_REG_ESCSUP, EC_TIMEOUT_FRAME) & EC_ESCSUP_DC) ? 1 : 0;
   uint16 dlstat = ec_FPRDw(s->configadr, ECT_REG_DLSTAT, EC_TIMEOUT_FRAME);
   uint8 count = 0;
   uint8 mask = 0;
   for (int p = 0; p < 4; p++)
   {
      if (((dlstat >> (8 + 2 * p)) & 0x03) == 0x02)
      {
         count++;
         mask |= (uint8)(1 << p);
      }
   }
   s->ptype = (uint8)(ec_FPRDw(s->configadr, ECT_REG_PORTDES, EC_TIMEOUT_FRAME) & 0xFF);
   s->topology = count;
   s->activeports = mask;
   s->parent = 0;
}

/* Walk back from slave n: an end point closes a branch, a junction opens one; the first slave
 * with open branches left is the parent. */
static void ec_config_parent(uint16 n)
{
   if (n <= 1)
      return;
   int16 branches = 0;
   for (uint16 c = (uint16)(n - 1); c >= 1; c--)
   {
      uint8 t = ec_slave[c].topology;
      if (t == 1)
         branches--;
      else if (t == 3)
         branches++;
      else if (t == 4)
         branches += 2;
      if ((branches >= 0 && t > 1) || c == 1)
      {
         ec_slave[n].parent = c;
         return;
      }
   }
}

/* Mailbox SyncManagers as the SII header describes them. */
static void ec_config_mailbox(uint16 n)
{
   ec_slavet *s = &ec_slave[n];
   if (s->mbx_l == 0)
      return;
   s->SMtype[0] = 1;
   s->SMtype[1] = 2;
   s->SMtype[2] = 3;
   s->SMtype[3] = 4;
   ec_setsm(&s->SM[0], s->mbx_wo, s->mbx_l, EC_SMFLAGS_MBXOUT);
   ec_setsm(&s->SM[1], s->mbx_ro, s->mbx_rl, EC_SMFLAGS_MBXIN);
   s->mbx_proto = (uint16)(ec_readeeprom(n, ECT_SII_MBXPROTO, EC_TIMEOUT_SAFE) & 0xFFFF);
}

/* One direction of a slave described by the built-in list: its process data SM (2 or 3) and, for
 * a slave that names none, the simple SM and FMMU at a fixed address that serve instead. */
typedef struct
{
   int procsm;
   int simple;
   uint16 simpleaddr;
   uint32 simpleflags;
   uint8 fmmutype;
   uint8 smtype;
} ec_tablesidet;

static const ec_tablesidet ec_tableoutputs = {2, 0, 0x0F00, EC_SMFLAGS_SIMPLEOUT, 2, 3};
static const ec_tablesidet ec_tableinputs = {3, 1, 0x1000, 0, 1, 4};

/* Lay out one direction of `bits` process data bits on the SM the list names at smaddr. */
static void ec_config_tableside(ec_slavet *s, const ec_tablesidet *side, uint16 bits, uint16 smaddr,
                                uint32 smflags)
{
   uint16 bytes = (uint16)((bits + 7) / 8);
   s->SM[side->procsm].StartAddr = smaddr;
   s->SM[side->procsm].SMflags = smflags;
   if (bits && smaddr == 0)
   {
      ec_setsm(&s->SM[side->simple], side->simpleaddr, bytes, side->simpleflags);
      s->FMMU[side->simple].FMMUactive = 1;
      s->FMMU[side->simple].FMMUtype = side->fmmutype;
      s->SMtype[side->simple] = side->smtype;
      return;
   }
   s->SM[side->procsm].SMlength = bytes;
   s->SMtype[side->procsm] = side->smtype;
}

/* Describe slave n from row `row` of the built-in list. */
static void ec_config_fromtable(uint16 n, int row)
{
   ec_slavet *s = &ec_slave[n];
   const ec_configentryt *r = &ec_configlist[row];
   s->Dtype = r->Dtype;
   memcpy(s->name, r->name, sizeof s->name);
   s->name[EC_MAXNAME] = '\0';
   s->Ibits = r->Ibits;
   s->Obits = r->Obits;
   if (s->Obits)
      s->FMMU0func = 1;
   if (s->Ibits)
      s->FMMU1func = 2;
   s->FMMU[0].FMMUactive = r->FM0ac;
   s->FMMU[1].FMMUactive = r->FM1ac;
   ec_config_tableside(s, &ec_tableoutputs, s->Obits, r->SM2a, r->SM2f);
   ec_config_tableside(s, &ec_tableinputs, s->Ibits, r->SM3a, r->SM3f);
}

/* General category: mailbox protocol details, LRW ability and E-bus current. */
static void ec_config_general(uint16 n)
{
   ec_slavet *s = &ec_slave[n];
   int a = ec_siifind(n, ECT_SII_GENERAL);
   if (a <= 0)
      return;
   s->CoEdetails = ec_siigetbyte(n, (uint16)(a + 7));
   s->FoEdetails = ec_siigetbyte(n, (uint16)(a + 8));
   s->EoEdetails = ec_siigetbyte(n, (uint16)(a + 9));
   s->SoEdetails = ec_siigetbyte(n, (uint16)(a + 10));
   if (ec_siigetbyte(n, (uint16)(a + 13)) & 0x02)
   {
      s->blockLRW = 1;
      ec_slave[0].blockLRW++;
   }
   s->Ebuscurrent =
      (int16)(ec_siigetbyte(n, (uint16)(a + 14)) | (ec_siigetbyte(n, (uint16)(a + 15)) << 8));
   ec_slave[0].Ebuscurrent = (int16)(ec_slave[0].Ebuscurrent + s->Ebuscurrent);
}

/* Describe slave n from its own SII. */
static void ec_config_fromsii(uint16 n)
{
   ec_slavet *s = &ec_slave[n];
   ec_config_general(n);
   if (ec_siifind(n, ECT_SII_STRING) > 0)
      ec_siistring(s->name, n, 1);
   else
      snprintf(s->name, sizeof s->name, "? M:%8.8x I:%8.8x", (unsigned)s->eep_man,
               (unsigned)s->eep_id);
   if (ec_siiSM(n, &ec_SM))
   {
      ec_setsm_sii(&s->SM[0], &ec_SM);
      for (uint16 k = 1; k < EC_MAXSM && ec_siiSMnext(n, &ec_SM, k); k++)
         ec_setsm_sii(&s->SM[k], &ec_SM);
   }
   if (ec_siiFMMU(n, &ec_FMMU))
   {
      uint8 *func[4] = {&s->FMMU0func, &s->FMMU1func, &s->FMMU2func, &s->FMMU3func};
      uint8 use[4] = {ec_FMMU.FMMU0, ec_FMMU.FMMU1, ec_FMMU.FMMU2, ec_FMMU.FMMU3};
      for (int i = 0; i < 4; i++)
         if (use[i] != 0xFF)
            *func[i] = use[i];
   }
}

/* Program the mailbox SyncManagers. One that nothing gave a start gets the mailbox the messages
 * go to (the default layout when the SII header gave no start either): a SyncManager elsewhere, or
 * of another length, would never see a message as complete. */
static void ec_config_writembx(uint16 n)
{
   ec_slavet *s = &ec_slave[n];
   if (s->mbx_l == 0)
      return;
   if (s->SM[0].StartAddr == 0)
   {
      ec_setsm(&s->SM[0], s->mbx_wo, s->mbx_l, EC_SMFLAGS_MBXOUT);
      s->SMtype[0] = 1;
   }
   if (s->SM[1].StartAddr == 0)
   {
      ec_setsm(&s->SM[1], s->mbx_ro, s->mbx_rl, EC_SMFLAGS_MBXIN);
      s->SMtype[1] = 2;
   }
   ec_FPWR(s->configadr, ECT_REG_SM0, sizeof(ec_smt), &s->SM[0], EC_TIMEOUT_FRAME);
   ec_FPWR(s->configadr, ECT_REG_SM1, sizeof(ec_smt), &s->SM[1], EC_TIMEOUT_FRAME);
}

static void ec_config_slave(uint16 n, uint8 usetable)
{
   ec_slavet *s = &ec_slave[n];
   if (s->mbx_l > 0)
   {
      uint32 mbx = ec_readeeprom2(n, EC_TIMEOUT_SAFE);
      s->mbx_ro = (uint16)(mbx & 0xFFFF);
      s->mbx_rl = (uint16)(mbx >> 16);
      if (s->mbx_rl == 0)
         s->mbx_rl = s->mbx_l;
      /* A start of 0 stands for the default layout, which the SyncManagers get as well; the
       * messages must go where the SyncManagers are. */
      if (s->mbx_wo == 0)
         s->mbx_wo = EC_DEFAULTMBXOUT;
      if (s->mbx_ro == 0)
         s->mbx_ro = EC_DEFAULTMBXIN;
      if (!ec_mbxwindowok(s->mbx_wo, s->mbx_l) || !ec_mbxwindowok(s->mbx_ro, s->mbx_rl))
      {
         s->mbx_l = 0;
         s->mbx_rl = 0;
      }
   }
   ec_config_ports(n);
   ec_config_parent(n);
   ec_statecheck(n, EC_STATE_INIT, EC_TIMEOUT_STATECHANGE);
   ec_config_mailbox(n);
   s->configindex = usetable ? (uint16)ec_findconfig(s->eep_man, s->eep_id) : 0;
   if (s->configindex)
      ec_config_fromtable(n, s->configindex);
   else
      ec_config_fromsii(n);
   ec_config_writembx(n);
   ec_FPWRw(s->configadr, ECT_REG_ALCTL, EC_STATE_PRE_OP | EC_STATE_ACK, EC_TIMEOUT_FRAME);
}

/* A bus with more slaves than the table holds is refused as a whole (EC_TOOMANYSLAVES) before
 * anything is written to it: configuring only the first 199 would leave the rest in INIT behind
 * them, and every bus-wide state check would then see a bus that never gets anywhere. */
int ec_config_init(uint8 usetable)
{
   ec_config_clear();
   uint16 word = 0;
   int wkc = ec_BRD(0, ECT_REG_TYPE, sizeof word, &word, EC_TIMEOUT_SAFE);
   if (wkc <= 0)
      return wkc;
   if (wkc > EC_MAXSLAVE - 1)
      return EC_TOOMANYSLAVES;
   ec_slavecount = wkc;
   ec_config_resetbus();
   for (uint16 n = 1; n <= ec_slavecount; n++)
      ec_config_address(n);
   ec_config_readsii(ec_slavecount);
   for (uint16 n = 1; n <= ec_slavecount; n++)
      ec_config_slave(n, usetable);
   /* A name, mailbox or SyncManager layout read as zeros is a wrong slave, not a default. */
   for (uint16 n = 1; n <= ec_slavecount; n++)
      if (esifailed[n])
         return EC_SIIFAILED;
   return wkc;
}

int ec_findconfig(uint32 man, uint32 id)
{
   for (int row = 1; row < EC_MAXCONFIGLIST; row++)
   {
      if (ec_configlist[row].man == EC_CONFIGEND)
         return 0;
      if (ec_configlist[row].man == man && ec_configlist[row].id == id)
         return row;
   }
   return 0;
}
