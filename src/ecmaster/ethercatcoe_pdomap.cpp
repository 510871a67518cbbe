/*
 * Read-out of a slave's process data layout through CoE, for the process data mapping.
 *
 * Object 0x1C00 says what each sync manager is used for; 0x1C10 + k lists the PDOs assigned to
 * SM k, and each PDO mapping object lists its entries with the bit length in the low byte. The
 * plain variant reads every value on its own, the CA variant whole objects with complete access
 * into the scratch records below. Only the first read of each walk is judged: a later read that
 * fails counts as nothing assigned, so a half-broken dictionary still yields what it can, but two
 * failures in a row end the walk.
 */
#include "ethercatcoe.h"
#include "ethercatcoe_private.h"
#include "ethercatmain.h"

ec_SMcommtypet ec_SMcommtype;
ec_PDOassignt ec_PDOassign;
ec_PDOdesct ec_PDOdesc;

/* A walk entry by entry ends after this many reads in a row failed. A single failed read is a hole
 * in the dictionary and is passed over; a slave that stopped answering would otherwise cost one
 * mailbox time-out (0.7 s) per announced entry, up to 255 of them per PDO and per assignment. */
#define EC_PDOMAP_MAXFAILS 2

/* Sync manager type codes as 0x1C00 reports them. */
#define ECX_SMT_MBXIN 2
#define ECX_SMT_OUTPUTS 3
#define ECX_SMT_INPUTS 4
/* The activate byte's enable bit within SMflags. */
#define ECX_SM_ENABLE 0x00010000

/* Bits of one PDO mapping object read entry by entry. */
static int ecx_pdobits(uint16 Slave, uint16 pdoindex)
{
   uint8 entries = 0;
   int rdl = sizeof(entries);
   (void)ec_SDOread(Slave, pdoindex, 0x00, FALSE, &rdl, &entries, EC_TIMEOUT_MBXRX);
   int bits = 0;
   int failed = 0;
   for (int sub = 1; sub <= entries && failed < EC_PDOMAP_MAXFAILS; sub++)
   {
      uint32 entry = 0;
      rdl = sizeof(entry);
      int wkc = ec_SDOread(Slave, pdoindex, (uint8)sub, FALSE, &rdl, &entry, EC_TIMEOUT_MBXRX);
      failed = wkc > 0 ? 0 : failed + 1;
      bits += entry & 0xFF;
   }
   return bits;
}

int ec_readPDOassign(uint16 Slave, uint16 PDOassign)
{
   uint16 count = 0;
   int rdl = sizeof(count);
   int wkc = ec_SDOread(Slave, PDOassign, 0x00, FALSE, &rdl, &count, EC_TIMEOUT_MBXRX);
   if (wkc <= 0 || count == 0)
   {
      return 0;
   }
   /* Sub-indexes end at 255; a larger count would make the walk wrap around. */
   if (count > 255)
   {
      count = 255;
   }
   int bits = 0;
   int failed = 0;
   for (int sub = 1; sub <= count && failed < EC_PDOMAP_MAXFAILS; sub++)
   {
      uint16 pdoindex = 0;
      rdl = sizeof(pdoindex);
      int subwkc =
         ec_SDOread(Slave, PDOassign, (uint8)sub, FALSE, &rdl, &pdoindex, EC_TIMEOUT_MBXRX);
      failed = subwkc > 0 ? 0 : failed + 1;
      if (pdoindex != 0)
      {
         bits += ecx_pdobits(Slave, pdoindex);
      }
   }
   return bits;
}

/* Entries of a complete-access image actually delivered: the announced count, but never more
 * than the bytes behind the two header bytes hold. */
static int ecx_ca_entries(int announced, int bytesread, int entrysize)
{
   int delivered = (bytesread - 2) / entrysize;
   if (delivered < 0)
   {
      delivered = 0;
   }
   return announced < delivered ? announced : delivered;
}

int ec_readPDOassignCA(uint16 Slave, uint16 PDOassign)
{
   ec_PDOassign.n = 0;
   int rdl = sizeof(ec_PDOassign);
   int wkc = ec_SDOread(Slave, PDOassign, 0x00, TRUE, &rdl, &ec_PDOassign, EC_TIMEOUT_MBXRX);
   if (wkc <= 0 || ec_PDOassign.n == 0)
   {
      return 0;
   }
   int pdos = ecx_ca_entries(ec_PDOassign.n, rdl, sizeof(ec_PDOassign.index[0]));
   int bits = 0;
   for (int i = 0; i < pdos; i++)
   {
      uint16 pdoindex = ec_PDOassign.index[i];
      if (pdoindex == 0)
      {
         continue;
      }
      ec_PDOdesc.n = 0;
      int dl = sizeof(ec_PDOdesc);
      if (ec_SDOread(Slave, pdoindex, 0x00, TRUE, &dl, &ec_PDOdesc, EC_TIMEOUT_MBXRX) <= 0)
      {
         continue;
      }
      int entries = ecx_ca_entries(ec_PDOdesc.n, dl, sizeof(ec_PDOdesc.PDO[0]));
      for (int e = 0; e < entries; e++)
      {
         bits += ec_PDOdesc.PDO[e] & 0xFF;
      }
   }
   return bits;
}

/* Common part of both read-outs once the type t of SM k (from 2 on, in order) is known: note it in
 * the slave entry and, for a process data SM, size it from its assignment object.
 *
 * Some slaves number the types one too low (mailbox in reported for the outputs SM); when SM 2 says
 * 2, every non-zero type from there on is raised by one. *raise carries that from SM to SM. */
static void ecx_pdomap_sm(uint16 Slave, int k, uint8 t, uint8 *raise, boolean CA, int *Osize,
                          int *Isize)
{
   ec_slavet *s = &ec_slave[Slave];
   if (k == 2 && t == ECX_SMT_MBXIN)
   {
      *raise = 1;
   }
   if (t != 0)
   {
      t = (uint8)(t + *raise);
   }
   s->SMtype[k] = t;
   if (t == 0)
   {
      s->SM[k].SMflags &= ~(uint32)ECX_SM_ENABLE;
   }
   if (t != ECX_SMT_OUTPUTS && t != ECX_SMT_INPUTS)
   {
      return;
   }
   uint16 assign = (uint16)(ECT_SDO_PDOASSIGN + k);
   int bits = CA ? ec_readPDOassignCA(Slave, assign) : ec_readPDOassign(Slave, assign);
   if (bits == 0)
   {
      return;
   }
   s->SM[k].SMlength = (uint16)((bits + 7) / 8);
   if (t == ECX_SMT_OUTPUTS)
   {
      *Osize += bits;
   }
   else
   {
      *Isize += bits;
   }
}

/* The last SM to look at for a 0x1C00 that lists `count` SMs: count - 1, but the table holds 8. */
static int ecx_lastsm(int count)
{
   int last = count - 1;
   return last > EC_MAXSM - 1 ? EC_MAXSM - 1 : last;
}

int ec_readPDOmap(uint16 Slave, int *Osize, int *Isize)
{
   if (Osize == NULL || Isize == NULL)
   {
      return 0;
   }
   *Osize = 0;
   *Isize = 0;
   uint8 count = 0;
   int rdl = sizeof(count);
   int wkc = ec_SDOread(Slave, ECT_SDO_SMCOMMTYPE, 0x00, FALSE, &rdl, &count, EC_TIMEOUT_MBXRX);
   if (wkc <= 0 || count < 3)
   {
      return 0;
   }
   uint8 raise = 0;
   int last = ecx_lastsm(count);
   for (int k = 2; k <= last; k++)
   {
      uint8 t = 0;
      rdl = sizeof(t);
      if (ec_SDOread(Slave, ECT_SDO_SMCOMMTYPE, (uint8)(k + 1), FALSE, &rdl, &t,
                     EC_TIMEOUT_MBXRX) <= 0)
      {
         continue;
      }
      ecx_pdomap_sm(Slave, k, t, &raise, FALSE, Osize, Isize);
   }
   return (*Osize > 0 || *Isize > 0) ? 1 : 0;
}

int ec_readPDOmapCA(uint16 Slave, int *Osize, int *Isize)
{
   if (Osize == NULL || Isize == NULL)
   {
      return 0;
   }
   *Osize = 0;
   *Isize = 0;
   ec_SMcommtype.n = 0;
   int rdl = sizeof(ec_SMcommtype);
   int wkc =
      ec_SDOread(Slave, ECT_SDO_SMCOMMTYPE, 0x00, TRUE, &rdl, &ec_SMcommtype, EC_TIMEOUT_MBXRX);
   if (wkc <= 0 || ec_SMcommtype.n < 3)
   {
      return 0;
   }
   uint8 raise = 0;
   int last = ecx_lastsm(ec_SMcommtype.n);
   /* Types the slave did not deliver are not read from the stale scratch record. */
   int delivered = rdl - 2;
   if (last > delivered - 1)
   {
      last = delivered - 1;
   }
   for (int k = 2; k <= last; k++)
   {
      ecx_pdomap_sm(Slave, k, ec_SMcommtype.SMtype[k], &raise, TRUE, Osize, Isize);
   }
   return (*Osize > 0 || *Isize > 0) ? 1 : 0;
}
