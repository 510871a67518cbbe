/*
 * Process data mapping of a group (see ethercatconfigmap.h).
 *
 * Two passes over the slaves: the output pass reads each slave's process data sizes, programs its
 * process data SyncManagers and gives its outputs FMMUs at the next free logical addresses; the
 * input pass does the same for the inputs and asks the slave for SAFE-OP. Segment bookkeeping runs
 * along so that the send can cut the image into frames without splitting a slave's data.
 */
#include "ethercatconfigmap.h"

#include "ethercatbase.h"
#include "ethercatcoe.h"
#include "ethercatconfig.h"
#include "ethercatmain.h"
#include "ethercatprocessdata.h"
#include "ethercatsoe.h"

#define EC_MAP_SMENABLE 0x00010000u /* enable bit of the activate byte in SMflags */
#define EC_MAP_PROTOCOE 0x0004
#define EC_MAP_PROTOSOE 0x0010
#define EC_MAP_COECA 0x20 /* complete access supported */
#define EC_MAP_SMOUTPUTS 3
#define EC_MAP_SMINPUTS 4

/* Scratch record of the SII PDO read-out; overwritten for every slave. */
static ec_eepromPDOt ec_PDO;

/* Where the layout stands while a group is mapped. */
typedef struct
{
   uint8 *image;
   uint32 imagesize;
   ec_groupt *grp;
   uint32 logaddr;  /* next free logical address */
   uint8 bitpos;    /* next free bit in the byte at logaddr */
   uint32 lastaddr; /* logical address at the previous segment bookkeeping */
   uint16 segment;  /* segment being filled */
   uint32 segsize;  /* its size so far */
} ec_maplayoutt;

/* One direction of a slave's process data as the FMMU allocation sees it. */
typedef struct
{
   uint8 smtype; /* SyncManager type that carries it */
   uint16 bits;
   uint32 bytes;   /* 0 for a bit-oriented slave */
   uint8 fmmutype; /* 1 read (inputs), 2 write (outputs) */
   uint8 wkc;      /* working counter increment of each FMMU */
} ec_mapdirt;

static uint16 ec_map_clampbits(int bits)
{
   if (bits <= 0)
      return 0;
   return bits > 0xFFFF ? 0xFFFF : (uint16)bits;
}

/* Size every SyncManager the SII PDO category `t` (0 TXPDO, 1 RXPDO) assigns bits to and mark it as
 * carrying `smtype`: the total bits of the category. */
static int ec_map_siisms(uint16 slave, uint8 t, uint8 smtype)
{
   ec_slavet *sl = &ec_slave[slave];
   int bits = ec_siiPDO(slave, &ec_PDO, t);
   for (int k = 0; k < EC_MAXSM; k++)
   {
      if (ec_PDO.SMbitsize[k] == 0)
         continue;
      sl->SM[k].SMlength = (uint16)((ec_PDO.SMbitsize[k] + 7) / 8);
      sl->SMtype[k] = smtype;
   }
   return bits;
}

/* Process data sizes from the slave's own description: CoE object dictionary, SoE IDN lists, or
 * the SII PDO categories, in that order of preference. */
static void ec_map_readsizes(uint16 slave)
{
   ec_slavet *sl = &ec_slave[slave];
   int osize = 0;
   int isize = 0;

   if (sl->mbx_proto & EC_MAP_PROTOCOE)
   {
      if (sl->CoEdetails & EC_MAP_COECA)
         ec_readPDOmapCA(slave, &osize, &isize);
      else
         ec_readPDOmap(slave, &osize, &isize);
   }
   if (osize <= 0 && isize <= 0 && (sl->mbx_proto & EC_MAP_PROTOSOE))
   {
      osize = isize = 0;
      ec_readIDNmap(slave, &osize, &isize);
      sl->SM[2].SMlength = (uint16)((ec_map_clampbits(osize) + 7) / 8);
      sl->SM[3].SMlength = (uint16)((ec_map_clampbits(isize) + 7) / 8);
   }
   if (osize <= 0 && isize <= 0)
   {
      isize = ec_map_siisms(slave, 0, EC_MAP_SMINPUTS);
      osize = ec_map_siisms(slave, 1, EC_MAP_SMOUTPUTS);
   }
   sl->Obits = ec_map_clampbits(osize);
   sl->Ibits = ec_map_clampbits(isize);
}

/* Program the SyncManagers: the mailbox pair of a slave without mailbox, and every process data
 * SyncManager with a start address (disabled when it carries nothing). */
static void ec_map_writesm(uint16 slave)
{
   ec_slavet *sl = &ec_slave[slave];

   if (sl->mbx_l == 0)
   {
      for (int k = 0; k < 2; k++)
         if (sl->SM[k].StartAddr)
            ec_FPWR(sl->configadr, (uint16)(ECT_REG_SM0 + 8 * k), sizeof(ec_smt), &sl->SM[k],
                    EC_TIMEOUT_FRAME);
   }
   for (int k = 2; k < EC_MAXSM; k++)
   {
      if (!sl->SM[k].StartAddr)
         continue;
      if (sl->SM[k].SMlength == 0)
         sl->SM[k].SMflags &= ~EC_MAP_SMENABLE;
      ec_FPWR(sl->configadr, (uint16)(ECT_REG_SM0 + 8 * k), sizeof(ec_smt), &sl->SM[k],
              EC_TIMEOUT_FRAME);
   }
}

/* First SyncManager from `s` on that carries data of `smtype`; EC_MAXSM when there is none. A
 * SyncManager of length 0 carries nothing and gets no FMMU. */
static int ec_map_nextsm(const ec_slavet *sl, int s, uint8 smtype)
{
   while (s < EC_MAXSM && (sl->SMtype[s] != smtype || sl->SM[s].SMlength == 0))
      s++;
   return s;
}

/* Segment bookkeeping: the bytes added since the last call join the current segment, or open a
 * new one when they would overfill it. Data larger than one frame fill whole segments first, so no
 * frame ever exceeds EC_MAXLRWDATA. */
static void ec_map_segment(ec_maplayoutt *lay)
{
   uint32 added = lay->logaddr - lay->lastaddr;
   lay->lastaddr = lay->logaddr;
   if (lay->segsize + added <= EC_MAXLRWDATA)
   {
      lay->segsize += added;
      return;
   }
   ec_groupt *grp = lay->grp;
   grp->IOsegment[lay->segment] = lay->segsize;
   while (lay->segment < EC_MAXIOSEGMENTS - 1)
   {
      lay->segment++;
      if (added <= EC_MAXLRWDATA)
      {
         lay->segsize = added;
         return;
      }
      grp->IOsegment[lay->segment] = EC_MAXLRWDATA;
      added -= EC_MAXLRWDATA;
   }
   /* All segments in use: what does not fit in them is not exchanged. */
}

static void ec_map_closebyte(ec_maplayoutt *lay)
{
   if (lay->bitpos == 0)
      return;
   lay->logaddr++;
   lay->bitpos = 0;
   ec_map_segment(lay);
}

/* Place one bit-oriented FMMU: it starts at the next free bit and may run into the next byte. */
static void ec_map_placebits(ec_maplayoutt *lay, ec_fmmut *f, uint16 bits)
{
   f->LogStart = lay->logaddr;
   f->LogStartbit = lay->bitpos;
   uint32 endbit = lay->bitpos + bits - 1u;
   lay->logaddr += endbit / 8;
   lay->bitpos = (uint8)(endbit % 8);
   f->LogLength = (uint16)(lay->logaddr - f->LogStart + 1);
   f->LogEndbit = lay->bitpos;
   lay->bitpos++;
   if (lay->bitpos > 7)
   {
      lay->logaddr++;
      lay->bitpos = 0;
   }
}

/* Place one byte-oriented FMMU of `length` bytes on the next byte boundary. */
static void ec_map_placebytes(ec_maplayoutt *lay, ec_fmmut *f, uint32 length)
{
   if (lay->bitpos)
   {
      lay->logaddr++;
      lay->bitpos = 0;
   }
   f->LogStart = lay->logaddr;
   f->LogStartbit = 0;
   f->LogEndbit = 7;
   f->LogLength = (uint16)length;
   lay->logaddr += length;
}

/* Pointer to image offset `offset`, NULL when it lies outside the caller's buffer. */
static uint8 *ec_map_imageptr(const ec_maplayoutt *lay, uint32 logstart)
{
   uint32 offset = logstart - lay->grp->logstartaddr;
   return offset < lay->imagesize ? lay->image + offset : NULL;
}

/* Gather SyncManager *ps and the following ones of the direction's type that start no later than
 * the end of the one before into FMMU f, until `bitcount` covers the direction's bits. Sets the
 * FMMU's physical start, returns the bytes gathered and leaves *ps at the next SyncManager to map. */
static uint32 ec_map_gather(const ec_slavet *sl, int *ps, const ec_mapdirt *dir, uint32 *bitcount,
                            ec_fmmut *f)
{
   int s = *ps;
   uint32 bytecount = sl->SM[s].SMlength;
   uint16 end = (uint16)(sl->SM[s].StartAddr + sl->SM[s].SMlength);
   f->PhysStart = sl->SM[s].StartAddr;
   *bitcount += 8u * sl->SM[s].SMlength;
   s = ec_map_nextsm(sl, s + 1, dir->smtype);
   while (*bitcount < dir->bits && s < EC_MAXSM && sl->SM[s].StartAddr <= end)
   {
      bytecount += sl->SM[s].SMlength;
      *bitcount += 8u * sl->SM[s].SMlength;
      end = (uint16)(sl->SM[s].StartAddr + sl->SM[s].SMlength);
      s = ec_map_nextsm(sl, s + 1, dir->smtype);
   }
   *ps = s;
   return bytecount;
}

/* Point the slave's outputs or inputs at the image byte of its first FMMU of the direction. */
static void ec_map_noteimage(const ec_maplayoutt *lay, ec_slavet *sl, const ec_mapdirt *dir,
                             const ec_fmmut *f)
{
   uint8 *p = ec_map_imageptr(lay, f->LogStart);
   if (dir->fmmutype == 2)
   {
      sl->outputs = p;
      sl->Ostartbit = f->LogStartbit;
      return;
   }
   sl->inputs = p;
   sl->Istartbit = f->LogStartbit;
}

/* Give one direction of a slave its FMMUs from number `fmmu` on, covering adjacent SyncManagers
 * of the direction's type with one FMMU each. Returns the next free FMMU number. */
static uint8 ec_map_direction(ec_maplayoutt *lay, uint16 slave, const ec_mapdirt *dir, uint8 fmmu)
{
   ec_slavet *sl = &ec_slave[slave];
   uint32 target = (dir->bits + 7u) / 8u;
   uint32 mapped = 0;
   uint32 bitcount = 0;
   uint8 firstfmmu = fmmu;
   int s = ec_map_nextsm(sl, 0, dir->smtype);

   /* Data of a SyncManager that would need a fifth FMMU stay unmapped. */
   for (; mapped < target && s < EC_MAXSM && fmmu < EC_MAXFMMU; fmmu++)
   {
      ec_fmmut *f = &sl->FMMU[fmmu];
      uint32 bytecount = ec_map_gather(sl, &s, dir, &bitcount, f);
      if (dir->bytes == 0)
         ec_map_placebits(lay, f, dir->bits);
      else
         ec_map_placebytes(lay, f,
                           mapped + bytecount > dir->bytes ? dir->bytes - mapped : bytecount);
      if (fmmu == firstfmmu)
         ec_map_noteimage(lay, sl, dir, f);
      mapped += f->LogLength;
      f->PhysStartBit = 0;
      f->FMMUtype = dir->fmmutype;
      f->FMMUactive = 1;
      if (f->LogLength)
      {
         ec_FPWR(sl->configadr, (uint16)(ECT_REG_FMMU0 + sizeof(ec_fmmut) * fmmu), sizeof(ec_fmmut),
                 f, EC_TIMEOUT_FRAME);
         lay->grp->expectedWKC += dir->wkc;
      }
   }
   return fmmu;
}

static boolean ec_map_ingroup(uint16 slave, uint8 group)
{
   return group == 0 || ec_slave[slave].group == group;
}

static void ec_map_outputs(ec_maplayoutt *lay, uint16 slave)
{
   ec_slavet *sl = &ec_slave[slave];

   if (sl->configindex == 0)
      ec_map_readsizes(slave);
   ec_map_writesm(slave);
   if (sl->Ibits > 7)
      sl->Ibytes = (sl->Ibits + 7u) / 8u;
   if (sl->Obits > 7)
      sl->Obytes = (sl->Obits + 7u) / 8u;
   uint8 fmmu = sl->FMMUunused;
   if (sl->Obits)
   {
      ec_mapdirt dir = {EC_MAP_SMOUTPUTS, sl->Obits, sl->Obytes, 2, 2};
      fmmu = ec_map_direction(lay, slave, &dir, fmmu);
   }
   sl->FMMUunused = fmmu;
   ec_map_segment(lay);
}

/* Map the slave's inputs and, with `safeop`, ask it for SAFE-OP. */
static void ec_map_inputs(ec_maplayoutt *lay, uint16 slave, int safeop)
{
   ec_slavet *sl = &ec_slave[slave];
   uint8 fmmu = sl->FMMUunused;

   if (sl->Obits)
      while (fmmu < EC_MAXFMMU && sl->FMMU[fmmu].LogStart)
         fmmu++;
   if (sl->Ibits)
   {
      ec_mapdirt dir = {EC_MAP_SMINPUTS, sl->Ibits, sl->Ibytes, 1, 1};
      fmmu = ec_map_direction(lay, slave, &dir, fmmu);
      sl->FMMUunused = fmmu;
      ec_map_segment(lay);
   }
   ec_eeprom2pdi(slave);
   if (safeop)
      ec_FPWRw(sl->configadr, ECT_REG_ALCTL, EC_STATE_SAFE_OP, EC_TIMEOUT_FRAME);
}

/* A layout that does not fit the caller's buffer leaves nothing pointing into it. */
static void ec_map_refuse(ec_maplayoutt *lay, uint8 group)
{
   for (int n = 1; n <= ec_slavecount; n++)
      if (ec_map_ingroup((uint16)n, group))
      {
         ec_slave[n].outputs = NULL;
         ec_slave[n].inputs = NULL;
      }
   lay->grp->outputs = NULL;
   lay->grp->inputs = NULL;
   if (group == 0)
   {
      ec_slave[0].outputs = NULL;
      ec_slave[0].inputs = NULL;
   }
   ec_groupimagesize[group] = 0;
}

/* 1 when a slave of the group had an SII read fail: a PDO list cut short by a failed read would
 * give an image of the wrong size that every slave still accepts. */
static int ec_map_siifailed(uint8 group)
{
   for (int n = 1; n <= ec_slavecount && n < EC_MAXSLAVE; n++)
      if (ec_map_ingroup((uint16)n, group) && esifailed[n])
         return 1;
   return 0;
}

int ec_config_map_group_size(void *pIOmap, uint32 iomapsize, uint8 group)
{
   if (ec_slavecount < 1 || group >= EC_MAXGROUP || pIOmap == NULL)
      return 0;
   int count = ec_slavecount < EC_MAXSLAVE ? ec_slavecount : EC_MAXSLAVE - 1;
   ec_groupt *grp = &ec_group[group];
   ec_maplayoutt lay;
   memset(&lay, 0, sizeof lay);
   lay.image = (uint8 *)pIOmap;
   lay.imagesize = iomapsize;
   lay.grp = grp;
   lay.logaddr = grp->logstartaddr;
   lay.lastaddr = grp->logstartaddr;
   grp->nsegments = 0;
   grp->expectedWKC = 0;

   for (int n = 1; n <= count; n++)
   {
      ec_statecheck((uint16)n, EC_STATE_PRE_OP, EC_TIMEOUT_STATECHANGE);
      if (ec_map_ingroup((uint16)n, group))
         ec_map_outputs(&lay, (uint16)n);
   }
   ec_map_closebyte(&lay);
   grp->outputs = lay.image;
   grp->Obytes = lay.logaddr - grp->logstartaddr;
   grp->Isegment = lay.segment;
   grp->Ioffset = (uint16)lay.segsize;
   if (group == 0)
   {
      ec_slave[0].outputs = lay.image;
      ec_slave[0].Obytes = grp->Obytes;
   }

   uint8 blocklrw = 0;
   int16 ebus = 0;
   /* Every PDO list has been read by now; with one of them unreliable no slave may run on the
    * layout. */
   int siifailed = ec_map_siifailed(group);
   for (int n = 1; n <= count; n++)
   {
      if (!ec_map_ingroup((uint16)n, group))
         continue;
      ec_map_inputs(&lay, (uint16)n, !siifailed);
      if (ec_slave[n].blockLRW)
         blocklrw++;
      ebus = (int16)(ebus + ec_slave[n].Ebuscurrent);
   }
   ec_map_closebyte(&lay);
   grp->IOsegment[lay.segment] = lay.segsize;
   grp->nsegments = (uint16)(lay.segment + 1);
   grp->inputs = lay.image + (grp->Obytes < iomapsize ? grp->Obytes : 0);
   grp->Ibytes = lay.logaddr - grp->logstartaddr - grp->Obytes;
   grp->blockLRW = blocklrw;
   grp->Ebuscurrent = ebus;
   if (group == 0)
   {
      ec_slave[0].inputs = grp->inputs;
      ec_slave[0].Ibytes = grp->Ibytes;
   }

   uint32 total = lay.logaddr - grp->logstartaddr;
   ec_groupimagesize[group] = iomapsize;
   if (total > iomapsize || siifailed)
   {
      ec_map_refuse(&lay, group);
      return 0;
   }
   return (int)total;
}

int ec_config_map_group(void *pIOmap, uint8 group)
{
   return ec_config_map_group_size(pIOmap, EC_IOMAPSIZE, group);
}

int ec_config_map(void *pIOmap)
{
   return ec_config_map_group(pIOmap, 0);
}

int ec_config(uint8 usetable, void *pIOmap)
{
   int wkc = ec_config_init(usetable);
   if (wkc > 0 && ec_config_map(pIOmap) == 0 && ec_map_siifailed(0))
      return EC_SIIFAILED;
   return wkc;
}
