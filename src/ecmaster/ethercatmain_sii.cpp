/*
 * The SII through a byte cache, and the parsers of its categories (strings, FMMU, SyncManager,
 * PDO). The parsers fetch one byte at a time; the cache turns that into one EEPROM read per 4 or
 * 8 bytes.
 *
 * Every length in the SII comes from the slave and is trusted for nothing: a category, string or
 * PDO list that claims more bytes than the cache holds (EC_MAXEEPBUF) is cut at the end of the
 * cache, and what lies beyond reads as 0xFF, so a broken chain ends as if at its end marker.
 */
#include "ethercatmain.h"

#include <string.h>

#include "ethercatmain_local.h"

/* Read the byte at `address` of the slave's SII into *out: 1 on success, 0 when the EEPROM did
 * not answer (*out is then 0, and the slave is marked in esifailed, since the parsers above turn
 * what they read into layouts and cannot tell a failed byte from a zero). Addresses beyond the cache read as 0xFF without an access.
 * A failed read is not marked valid, so that one busy moment does not stick in the cache. */
static int sii_byte(uint16 slave, int address, uint8 *out)
{
   if (slave != esislave)
   {
      memset(esimap, 0, sizeof esimap);
      esislave = slave;
   }
   *out = 0xFF;
   if (address < 0 || address >= EC_MAXEEPBUF)
      return 1;
   uint32 mask = (uint32)1 << (address & 31);
   if (esimap[address >> 5] & mask)
   {
      *out = esibuf[address];
      return 1;
   }
   /* Once a read has failed after all its tries, the slave's SII counts as unread for this
    * enumeration and nothing parsed from it is used. Trying each further byte of a long category
    * would only wait out the same time-outs again: for a slave that left the bus, minutes. */
   if (esifailed[slave])
   {
      *out = 0;
      return 0;
   }
   ec_eeprom2master(slave);
   uint16 eadr = (uint16)(address >> 1);
   uint64 edat = 0;
   *out = 0;
   if (!ec_readeepromFP_checked(ec_slave[slave].configadr, eadr, EC_TIMEOUT_SAFE, &edat))
   {
      esifailed[slave] = 1;
      return 0;
   }
   int count = ec_slave[slave].eep_8byte ? 8 : 4;
   for (int i = 0; i < count; i++)
   {
      int a = eadr * 2 + i;
      if (a >= EC_MAXEEPBUF)
         break;
      esibuf[a] = (uint8)(edat >> (8 * i));
      esimap[a >> 5] |= (uint32)1 << (a & 31);
   }
   *out = esibuf[address];
   return 1;
}

/* The little-endian word at byte address `address`: 1 on success, 0 on an EEPROM failure. */
static int sii_word(uint16 slave, int address, uint16 *out)
{
   uint8 lo, hi;
   int ok = sii_byte(slave, address, &lo) && sii_byte(slave, address + 1, &hi);
   *out = ok ? (uint16)(lo | (hi << 8)) : 0;
   return ok;
}

static uint8 sii_get(uint16 slave, int address)
{
   uint8 b;
   sii_byte(slave, address, &b);
   return b;
}

/* The data of the category whose length word is at `start`: its first byte address and the number
 * of its bytes that lie inside the cache. */
static int sii_catbytes(uint16 slave, int start, int *data)
{
   uint16 words;
   sii_word(slave, start, &words);
   *data = start + 2;
   int avail = EC_MAXEEPBUF - *data;
   if (avail < 0)
      avail = 0;
   int bytes = 2 * (int)words;
   return bytes < avail ? bytes : avail;
}

static void sii_restore(uint16 slave, uint8 waspdi)
{
   if (waspdi)
      ec_eeprom2pdi(slave);
}

uint8 ec_siigetbyte(uint16 slave, uint16 address)
{
   if (!ec_intable(slave))
      return 0xFF;
   return sii_get(slave, address);
}

/* The walk stops at the end marker, at a category that would jump past the cache (the search
 * address could otherwise wrap), and at an EEPROM that stopped answering: reading on through
 * failed words would walk thousands of zero-length categories at one time-out each. */
int16 ec_siifind(uint16 slave, uint16 cat)
{
   if (!ec_intable(slave))
      return 0;
   uint8 waspdi = ec_slave[slave].eep_pdi;
   int a = ECT_SII_START;
   uint16 type = ECT_SII_END;
   int ok = sii_word(slave, a, &type);
   a += 2;
   while (ok && type != cat && type != ECT_SII_END)
   {
      uint16 words;
      ok = sii_word(slave, a, &words);
      a += 2 + 2 * (int)words;
      if (a + 2 > EC_MAXEEPBUF)
         type = ECT_SII_END;
      else
         ok = ok && sii_word(slave, a, &type);
      a += 2;
   }
   sii_restore(slave, waspdi);
   return (ok && type == cat) ? (int16)a : 0;
}

/* Copy string Sn of the string category whose length word is at `a` into str (empty when the
 * category holds fewer strings). Strings are a count byte, then length-prefixed texts. */
static void sii_copystring(char *str, uint16 slave, int a, uint16 Sn)
{
   int data;
   int end = a + 2 + sii_catbytes(slave, a, &data);
   int count = data < end ? sii_get(slave, data) : 0;
   int len = 0;
   if (Sn >= 1 && Sn <= count)
   {
      int p = data + 1;
      for (int i = 1; i < Sn; i++)
         p += 1 + sii_get(slave, p);
      int slen = sii_get(slave, p++);
      for (; len < slen && len < EC_MAXNAME && p + len < end; len++)
         str[len] = (char)sii_get(slave, p + len);
   }
   str[len] = '\0';
}

void ec_siistring(char *str, uint16 slave, uint16 Sn)
{
   if (!str || !ec_intable(slave))
      return;
   uint8 waspdi = ec_slave[slave].eep_pdi;
   int a = ec_siifind(slave, ECT_SII_STRING);
   if (a > 0)
      sii_copystring(str, slave, a, Sn);
   sii_restore(slave, waspdi);
}

uint16 ec_siiFMMU(uint16 slave, ec_eepromFMMUt *FMMU)
{
   if (!FMMU || !ec_intable(slave))
      return 0;
   uint8 waspdi = ec_slave[slave].eep_pdi;
   memset(FMMU, 0, sizeof *FMMU);
   FMMU->Startpos = (uint16)ec_siifind(slave, ECT_SII_FMMU);
   if (FMMU->Startpos > 0)
   {
      int data;
      int bytes = sii_catbytes(slave, FMMU->Startpos, &data);
      FMMU->nFMMU = (uint8)(bytes > 255 ? 255 : bytes);
      uint8 *use[4] = {&FMMU->FMMU0, &FMMU->FMMU1, &FMMU->FMMU2, &FMMU->FMMU3};
      for (int i = 0; i < 4 && i < bytes; i++)
         *use[i] = sii_get(slave, data + i);
   }
   sii_restore(slave, waspdi);
   return FMMU->nFMMU;
}

static void sii_smentry(uint16 slave, int a, ec_eepromSMt *SM)
{
   SM->PhStart = (uint16)(sii_get(slave, a) | (sii_get(slave, a + 1) << 8));
   SM->Plength = (uint16)(sii_get(slave, a + 2) | (sii_get(slave, a + 3) << 8));
   SM->Creg = sii_get(slave, a + 4);
   SM->Sreg = sii_get(slave, a + 5);
   SM->Activate = sii_get(slave, a + 6);
   SM->PDIctrl = sii_get(slave, a + 7);
}

uint16 ec_siiSM(uint16 slave, ec_eepromSMt *SM)
{
   if (!SM || !ec_intable(slave))
      return 0;
   uint8 waspdi = ec_slave[slave].eep_pdi;
   SM->nSM = 0;
   SM->Startpos = (uint16)ec_siifind(slave, ECT_SII_SM);
   if (SM->Startpos > 0)
   {
      int data;
      int entries = sii_catbytes(slave, SM->Startpos, &data) / 8;
      SM->nSM = (uint8)(entries > 255 ? 255 : entries);
      if (SM->nSM > 0)
         sii_smentry(slave, data, SM);
   }
   sii_restore(slave, waspdi);
   return SM->nSM;
}

uint16 ec_siiSMnext(uint16 slave, ec_eepromSMt *SM, uint16 n)
{
   if (!SM || !ec_intable(slave) || n >= SM->nSM)
      return 0;
   uint8 waspdi = ec_slave[slave].eep_pdi;
   sii_smentry(slave, SM->Startpos + 2 + 8 * n, SM);
   sii_restore(slave, waspdi);
   return 1;
}

static uint16 sii_addsat(uint16 a, uint16 b)
{
   uint32 s = (uint32)a + b;
   return (uint16)(s > 0xFFFF ? 0xFFFF : s);
}

int ec_siiPDO(uint16 slave, ec_eepromPDOt *PDO, uint8 t)
{
   if (!PDO || !ec_intable(slave))
      return 0;
   uint8 waspdi = ec_slave[slave].eep_pdi;
   PDO->nPDO = 0;
   PDO->Length = 0;
   PDO->Index[1] = 0;
   memset(PDO->SMbitsize, 0, sizeof PDO->SMbitsize);
   int total = 0;
   PDO->Startpos = (uint16)ec_siifind(slave, (uint16)(ECT_SII_PDO + (t > 1 ? 1 : t)));
   if (PDO->Startpos > 0)
   {
      int a;
      int end = PDO->Startpos + 2 + sii_catbytes(slave, PDO->Startpos, &a);
      uint16 words;
      sii_word(slave, PDO->Startpos, &words);
      PDO->Length = words;
      /* A PDO header or entry that would start past the category's end (or the cache) is not
       * read: the list is cut there. */
      while (a + 8 <= end && PDO->nPDO < EC_MAXEEPDO - 1)
      {
         uint16 n = ++PDO->nPDO;
         PDO->Index[n] = (uint16)(sii_get(slave, a) | (sii_get(slave, a + 1) << 8));
         PDO->BitSize[n] = 0;
         int entries = sii_get(slave, a + 2);
         PDO->SyncM[n] = sii_get(slave, a + 3);
         a += 8;
         if (PDO->SyncM[n] >= EC_MAXSM)
         {
            a += 8 * entries;
            continue;
         }
         for (int e = 0; e < entries && a + 8 <= end; e++, a += 8)
            PDO->BitSize[n] = sii_addsat(PDO->BitSize[n], sii_get(slave, a + 5));
         PDO->SMbitsize[PDO->SyncM[n]] = sii_addsat(PDO->SMbitsize[PDO->SyncM[n]], PDO->BitSize[n]);
         total += PDO->BitSize[n];
      }
   }
   sii_restore(slave, waspdi);
   return total;
}

void ec_esidump(uint16 slave, uint8 *esibuf, uint8 test)
{
   (void)test;
   if (!esibuf || !ec_intable(slave))
      return;
   uint8 waspdi = ec_slave[slave].eep_pdi;
   ec_eeprom2master(slave);
   uint16 configadr = ec_slave[slave].configadr;
   int step = ec_slave[slave].eep_8byte ? 4 : 2;
   int address = ECT_SII_START >> 1;
   uint64 edat;
   do
   {
      edat = ec_readeepromFP(configadr, (uint16)address, EC_TIMEOUT_SAFE);
      int offset = (address - (ECT_SII_START >> 1)) * 2;
      int size = step * 2;
      if (offset + size > EC_MAXEEPBUF)
         size = EC_MAXEEPBUF - offset;
      if (size > 0)
         memcpy(esibuf + offset, &edat, (size_t)size);
      address += step;
   } while (address <= 2048 && (uint32)edat != 0xFFFFFFFF);
   sii_restore(slave, waspdi);
}
