/*
 * SII EEPROM access through the slave controller's EEPROM interface registers: who owns the
 * interface (master or the slave's own processor), waiting while it is busy, word reads of 4 or 8
 * bytes and word writes, each with the slave's refusal (not acknowledged) answered by up to three
 * attempts.
 *
 * The same code serves configured-address and auto-increment access; the two differ only in the
 * pair of primitives used.
 */
#include "ethercatmain.h"

#include "eclink.h"
#include "ethercatbase.h"
#include "ethercatmain_local.h"

/* The read and write primitives of one addressing mode; `once` writes an EEPROM command. */
typedef struct
{
   ec_accessfn rd;
   ec_accessfn wr;
   ec_accessfn once;
} eep_access;

static const eep_access eep_fp = {ec_FPRD, ec_FPWR, ec_FPWRonce};
static const eep_access eep_ap = {ec_APRD, ec_APWR, ec_APWRonce};

/* Word address of the split read in flight per slave, so that a refused read can be repeated. */
static uint16 eep_pending[EC_MAXSLAVE];
/* Per slave, 1 when ec_readeeprom1 could not start its read: the data register then still holds
 * the word before. */
static uint8 eep_unstarted[EC_MAXSLAVE];

int ec_eeprom2master(uint16 slave)
{
   if (!ec_intable(slave))
      return 0;
   if (!ec_slave[slave].eep_pdi)
      return 1;
   uint16 configadr = ec_slave[slave].configadr;
   uint8 cfg = 0x02;
   int wkc = ec_retried(ec_FPWR, configadr, ECT_REG_EEPCFG, sizeof cfg, &cfg);
   cfg = 0x00;
   wkc = ec_retried(ec_FPWR, configadr, ECT_REG_EEPCFG, sizeof cfg, &cfg);
   ec_slave[slave].eep_pdi = 0;
   return wkc;
}

int ec_eeprom2pdi(uint16 slave)
{
   if (!ec_intable(slave))
      return 0;
   if (ec_slave[slave].eep_pdi)
      return 1;
   uint8 cfg = 0x01;
   int wkc = ec_retried(ec_FPWR, ec_slave[slave].configadr, ECT_REG_EEPCFG, sizeof cfg, &cfg);
   ec_slave[slave].eep_pdi = 1;
   return wkc;
}

static uint16 eep_waitnotbusy(const eep_access *io, uint16 adr, uint16 *estat, int timeout)
{
   ec_deadlinet deadline = ec_deadline(timeout);
   int round = 0;
   int wkc;
   do
   {
      if (round++ > 0)
         ec_clock_sleep(EC_LOCALDELAY);
      wkc = io->rd(adr, ECT_REG_EEPSTAT, sizeof *estat, estat, EC_TIMEOUT_FRAME);
   } while ((wkc <= 0 || (*estat & EC_ESTAT_BUSY)) && !ec_expired(&deadline));
   /* A status that never came tells nothing: the EEPROM is not known to be free. */
   return wkc > 0 && !(*estat & EC_ESTAT_BUSY);
}

uint16 ec_eeprom_waitnotbusyFP(uint16 configadr, uint16 *estat, int timeout)
{
   return eep_waitnotbusy(&eep_fp, configadr, estat, timeout);
}

uint16 ec_eeprom_waitnotbusyAP(uint16 aiadr, uint16 *estat, int timeout)
{
   return eep_waitnotbusy(&eep_ap, aiadr, estat, timeout);
}

/* Error bits left by an earlier command would make the next one fail: clear them first. */
static void eep_clearerrors(const eep_access *io, uint16 adr, uint16 estat)
{
   if (!(estat & EC_ESTAT_EMASK))
      return;
   uint16 nop = EC_ECMD_NOP;
   io->wr(adr, ECT_REG_EEPCTL, sizeof nop, &nop, EC_TIMEOUT_FRAME);
}

/* How eep_command knows that the slave took a command. */
#define EEP_CONFIRMED 1 /* its reply said so */
#define EEP_INFERRED 2  /* the reply was lost; the address register names the command's word */

/* Start an EEPROM command: EEP_CONFIRMED or EEP_INFERRED when the slave took it, 0 when not.
 *
 * The command is never sent again while it may be running: a slave ignores a command written
 * while its EEPROM is busy, and a write repeated after the first one finished finds the write
 * enable cleared and ends in an error although the word was written. So the command frame goes
 * once, and when its reply is lost the EEPROM is asked whether it took it: once it is no longer
 * busy, its address register holds the address of the last command it took. Only a command that
 * did not land is sent again. (A command whose address equals the one before is then taken as
 * landed: for a read that is the same word; a write is checked by the caller reading it back.) */
static int eep_command(const eep_access *io, uint16 adr, uint16 comm, uint16 eeproma, int timeout)
{
   ec_eepromt cmd;
   cmd.comm = comm;
   cmd.addr = eeproma;
   cmd.d2 = 0;
   for (int attempt = 0; attempt < EC_DEFAULTRETRIES; attempt++)
   {
      int wkc = io->once(adr, ECT_REG_EEPCTL, sizeof cmd, &cmd, EC_TIMEOUT_FRAME);
      if (wkc >= 0)
         return wkc > 0 ? EEP_CONFIRMED : 0;
      uint16 estat = 0;
      uint32 taken = 0;
      if (!eep_waitnotbusy(io, adr, &estat, timeout) ||
          ec_retried(io->rd, adr, ECT_REG_EEPADR, sizeof taken, &taken) <= 0)
         return 0; /* the slave does not answer at all */
      if (taken == eeproma)
         return EEP_INFERRED;
   }
   return 0;
}

/* Read the word group at eeproma into *data: 1 when the data register was read, else 0 (*data is
 * then 0). */
static int eep_read(const eep_access *io, uint16 adr, uint16 eeproma, int timeout, uint64 *data)
{
   uint16 estat = 0;
   int done = 0;
   *data = 0;
   if (!eep_waitnotbusy(io, adr, &estat, timeout))
      return 0;
   eep_clearerrors(io, adr, estat);
   int nack = 0;
   do
   {
      if (!eep_command(io, adr, EC_ECMD_READ, eeproma, timeout))
         break;
      ec_clock_sleep(EC_LOCALDELAY);
      estat = 0;
      if (!eep_waitnotbusy(io, adr, &estat, timeout))
         break;
      if (estat & EC_ESTAT_NACK)
      {
         nack++;
         ec_clock_sleep(EC_LOCALDELAY * 5);
         continue;
      }
      nack = 0;
      uint16 size = (estat & EC_ESTAT_R64) ? 8 : 4;
      done = ec_retried(io->rd, adr, ECT_REG_EEPDAT, size, data) > 0;
   } while (nack > 0 && nack < EC_EEPNACKTRIES);
   return done;
}

/* Write one word: 1 when the EEPROM took it, else 0. A write that ends with any error bit set did
 * not reach the EEPROM, so only a clean status counts as success. */
static int eep_write(const eep_access *io, uint16 adr, uint16 eeproma, uint16 data, int timeout)
{
   uint16 estat = 0;
   if (!eep_waitnotbusy(io, adr, &estat, timeout))
      return 0;
   eep_clearerrors(io, adr, estat);
   int nack = 0;
   do
   {
      ec_retried(io->wr, adr, ECT_REG_EEPDAT, sizeof data, &data);
      int started = eep_command(io, adr, EC_ECMD_WRITE, eeproma, timeout);
      if (!started)
         return 0;
      ec_clock_sleep(EC_LOCALDELAY * 2);
      estat = 0;
      if (!eep_waitnotbusy(io, adr, &estat, timeout))
         return 0;
      if (started == EEP_INFERRED)
      {
         /* Whether this write or an earlier command at the same word ran is told by the word. */
         uint64 word = 0;
         return eep_read(io, adr, eeproma, timeout, &word) && (uint16)word == data;
      }
      if (estat & EC_ESTAT_NACK)
      {
         nack++;
         ec_clock_sleep(EC_LOCALDELAY * 5);
         continue;
      }
      return (estat & EC_ESTAT_EMASK) ? 0 : 1;
   } while (nack < EC_EEPNACKTRIES);
   return 0;
}

uint64 ec_readeepromFP(uint16 configadr, uint16 eeproma, int timeout)
{
   uint64 data;
   eep_read(&eep_fp, configadr, eeproma, timeout, &data);
   return data;
}

uint64 ec_readeepromAP(uint16 aiadr, uint16 eeproma, int timeout)
{
   uint64 data;
   eep_read(&eep_ap, aiadr, eeproma, timeout, &data);
   return data;
}

int ec_writeeepromFP(uint16 configadr, uint16 eeproma, uint16 data, int timeout)
{
   return eep_write(&eep_fp, configadr, eeproma, data, timeout);
}

int ec_writeeepromAP(uint16 aiadr, uint16 eeproma, uint16 data, int timeout)
{
   return eep_write(&eep_ap, aiadr, eeproma, data, timeout);
}

/* Internal variant for the SII cache: tells a failed read from a word group of zeros. */
int ec_readeepromFP_checked(uint16 configadr, uint16 eeproma, int timeout, uint64 *data)
{
   /* An EEPROM that stays busy past the time-out, or a status that got lost, is tried again: a
    * loaded host can hold a slave's answers back for longer than one time-out, and what rests on
    * an SII read (names, mailboxes, process data sizes) cannot simply go without it. */
   for (int attempt = 0; attempt < EC_SIIREADTRIES; attempt++)
      if (eep_read(&eep_fp, configadr, eeproma, timeout, data))
         return 1;
   return 0;
}

uint32 ec_readeeprom(uint16 slave, uint16 eeproma, int timeout)
{
   if (!ec_intable(slave))
      return 0;
   ec_eeprom2master(slave);
   return (uint32)ec_readeepromFP(ec_slave[slave].configadr, eeproma, timeout);
}

int ec_writeeeprom(uint16 slave, uint16 eeproma, uint16 data, int timeout)
{
   if (!ec_intable(slave))
      return 0;
   ec_eeprom2master(slave);
   return ec_writeeepromFP(ec_slave[slave].configadr, eeproma, data, timeout);
}

void ec_readeeprom1(uint16 slave, uint16 eeproma)
{
   if (!ec_intable(slave))
      return;
   uint16 configadr = ec_slave[slave].configadr;
   uint16 estat = 0;
   eep_pending[slave] = eeproma;
   eep_unstarted[slave] = 1;
   /* A slave whose SII already failed is refused whatever it answers now: no further time-outs. */
   if (esifailed[slave])
      return;
   ec_eeprom2master(slave);
   if (!eep_waitnotbusy(&eep_fp, configadr, &estat, EC_TIMEOUT_SAFE))
      return;
   eep_clearerrors(&eep_fp, configadr, estat);
   if (eep_command(&eep_fp, configadr, EC_ECMD_READ, eeproma, EC_TIMEOUT_SAFE))
      eep_unstarted[slave] = 0;
}

/* A refused split read would leave the data register holding the previous word; the read is then
 * repeated as a whole so that the caller never takes that word for the one asked for. */
uint32 ec_readeeprom2(uint16 slave, int timeout)
{
   if (!ec_intable(slave))
      return 0;
   uint16 configadr = ec_slave[slave].configadr;
   uint16 estat = 0;
   uint32 data = 0;
   if (esifailed[slave])
      return 0;
   /* Whatever went wrong with the split read, the word is read again as a whole. */
   if (eep_unstarted[slave] || !eep_waitnotbusy(&eep_fp, configadr, &estat, timeout) ||
       (estat & EC_ESTAT_NACK) ||
       ec_retried(ec_FPRD, configadr, ECT_REG_EEPDAT, sizeof data, &data) <= 0)
   {
      uint64 word = 0;
      if (!ec_readeepromFP_checked(configadr, eep_pending[slave], timeout, &word))
         esifailed[slave] = 1;
      eep_unstarted[slave] = 0;
      return (uint32)word;
   }
   return data;
}
