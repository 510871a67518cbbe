/*
 * Distributed clocks: the topology walk that turns latched port receive times into propagation
 * delays and system time offsets, and the programming of the SYNC outputs.
 *
 * A frame enters a slave at its entry port and leaves it through the other open ports in the
 * order 3, 1, 2, returning through each before it goes on, so the time between two neighbouring
 * ports' receive times is the time the frame spent in the branch behind the later one. Receive
 * times are 32-bit counters of each slave's local clock that wrap every 4.3 s; they are only ever
 * compared as differences, which stay right across a wrap.
 */
#include "ethercatdc.h"

#include "ethercatbase.h"

/* The ports frames pass before `port`, nearest first (frames go round 0, 3, 1, 2). */
static const uint8 ec_dcprevports[4][3] = {{2, 1, 3}, {3, 0, 2}, {1, 3, 0}, {0, 2, 1}};
/* The order in which a parent hands its open ports to children. */
static const uint8 ec_dcchildports[4] = {3, 1, 2, 0};
/* The order in which a frame passes the ports of a slave, entry first. */
static const uint8 ec_dcpassorder[4] = {0, 3, 1, 2};

/* 1 when `slave` names an entry of the table that a slave occupies, else 0. */
static int ec_dc_slaveok(uint16 slave)
{
   return slave >= 1 && slave < EC_MAXSLAVE && (int)slave <= ec_slavecount;
}

/* a - b of two latched counter values, right also when the counter wrapped between them. */
static int32 ec_dc_diff(int32 a, int32 b)
{
   return (int32)((uint32)a - (uint32)b);
}

int32 ec_porttime(uint16 slave, uint8 port)
{
   if (slave >= EC_MAXSLAVE)
      return 0;
   const ec_slavet *s = &ec_slave[slave];
   switch (port)
   {
      case 0:
         return s->DCrtA;
      case 1:
         return s->DCrtB;
      case 2:
         return s->DCrtC;
      case 3:
         return s->DCrtD;
      default:
         return 0;
   }
}

uint8 ec_prevport(uint16 slave, uint8 port)
{
   if (slave >= EC_MAXSLAVE || port > 3)
      return port;
   for (int k = 0; k < 3; k++)
   {
      uint8 candidate = ec_dcprevports[port][k];
      if (ec_slave[slave].activeports & (1 << candidate))
         return candidate;
   }
   return port;
}

uint8 ec_parentport(uint16 parent)
{
   if (parent >= EC_MAXSLAVE)
      return 0;
   ec_slavet *p = &ec_slave[parent];
   for (int k = 0; k < 4; k++)
   {
      uint8 port = ec_dcchildports[k];
      if (p->consumedports & (1 << port))
      {
         p->consumedports = (uint8)(p->consumedports & ~(1 << port));
         return port;
      }
   }
   return 0;
}

/* Append slave i to the chain of slaves with a clock; the first one becomes the reference that
 * the process data cycle of group 0 reads. */
static void ec_dc_chain(uint16 i, uint16 *previous)
{
   if (!ec_slave[0].hasdc)
   {
      ec_slave[0].hasdc = TRUE;
      ec_slave[0].DCnext = i;
      ec_group[0].hasdc = TRUE;
      ec_group[0].DCnext = i;
      ec_slave[i].DCprevious = 0;
   }
   else
   {
      ec_slave[*previous].DCnext = i;
      ec_slave[i].DCprevious = *previous;
   }
   *previous = i;
}

/* Read what slave i latched and start its system time at the moment the latch frame reached it:
 * the offset is minus its local time then. */
static void ec_dc_readtimes(uint16 i)
{
   ec_slavet *s = &ec_slave[i];
   uint16 adr = s->configadr;
   (void)ec_FPRD(adr, ECT_REG_DCTIME0, sizeof s->DCrtA, &s->DCrtA, EC_TIMEOUT_FRAME);
   uint64 sof = 0;
   (void)ec_FPRD(adr, ECT_REG_DCSOF, sizeof sof, &sof, EC_TIMEOUT_FRAME);
   uint64 offset = (uint64)0 - sof;
   (void)ec_FPWR(adr, ECT_REG_DCSYSOFFSET, sizeof offset, &offset, EC_TIMEOUT_FRAME);
   (void)ec_FPRD(adr, ECT_REG_DCTIME1, sizeof s->DCrtB, &s->DCrtB, EC_TIMEOUT_FRAME);
   (void)ec_FPRD(adr, ECT_REG_DCTIME2, sizeof s->DCrtC, &s->DCrtC, EC_TIMEOUT_FRAME);
   (void)ec_FPRD(adr, ECT_REG_DCTIME3, sizeof s->DCrtD, &s->DCrtD, EC_TIMEOUT_FRAME);
}

/* The open port that saw the latch frame first. Times are compared as differences to the best so
 * far, not as plain numbers, so that a counter that wrapped while the frame went round does not
 * make a later port look earlier. On equal times the port the frame passes first wins. With no
 * port open (the link state could not be read) the entry is port 0. */
static uint8 ec_dc_entryport(uint16 i)
{
   const ec_slavet *s = &ec_slave[i];
   int best = -1;
   for (int k = 0; k < 4; k++)
   {
      uint8 port = ec_dcpassorder[k];
      if (!(s->activeports & (1 << port)))
         continue;
      if (best < 0 || ec_dc_diff(ec_porttime(i, port), ec_porttime(i, (uint8)best)) < 0)
         best = port;
   }
   return best < 0 ? 0 : (uint8)best;
}

/* The nearest slave with a clock above slave i, or 0 when there is none; *child is the slave just
 * below it on the way up (i itself when the direct parent has a clock). A parent link that does
 * not point to an earlier slave ends the walk, so a damaged table cannot make it loop. */
static uint16 ec_dc_parent(uint16 i, uint16 *child)
{
   uint16 c = i;
   uint16 p = ec_slave[i].parent;
   while (p > 0 && p < c && !ec_slave[p].hasdc)
   {
      c = p;
      p = ec_slave[p].parent;
   }
   *child = c;
   return p < c ? p : 0;
}

/* Propagation delay of slave i below its clock parent p: half the time the frame spent in the
 * parent's branch that holds i, less the time spent in i's own branches, plus the time spent in
 * the parent's earlier branches when i does not follow p directly, plus p's own delay. Worked in
 * 64 bits, so that no sum of measured values can overflow. */
static void ec_dc_delay(uint16 i, uint16 p, uint16 child)
{
   ec_slavet *s = &ec_slave[i];
   ec_slavet *ps = &ec_slave[p];
   s->parentport = ec_parentport(p);
   if (ps->topology == 1)
      s->parentport = ps->entryport;

   uint8 before = ec_prevport(p, s->parentport);
   int64 dt3 = ec_dc_diff(ec_porttime(p, s->parentport), ec_porttime(p, before));
   int64 dt1 = 0;
   if (s->topology > 1)
   {
      dt1 = ec_dc_diff(ec_porttime(i, ec_prevport(i, s->entryport)), ec_porttime(i, s->entryport));
      if (dt1 > dt3)
         dt1 = -dt1;
   }
   int64 dt2 = 0;
   if (child - p > 1)
   {
      dt2 = ec_dc_diff(ec_porttime(p, before), ec_porttime(p, ps->entryport));
      if (dt2 < 0)
         dt2 = -dt2;
   }
   s->pdelay = (int32)((dt3 - dt1) / 2 + dt2 + ps->pdelay);
   (void)ec_FPWR(s->configadr, ECT_REG_DCSYSDELAY, sizeof s->pdelay, &s->pdelay, EC_TIMEOUT_FRAME);
}

boolean ec_configdc(void)
{
   uint16 previous = 0;
   /* A branching slave without clock whose next branch end uses up one of its ports. */
   uint16 held = 0;
   int count = ec_slavecount < EC_MAXSLAVE ? ec_slavecount : EC_MAXSLAVE - 1;

   ec_slave[0].hasdc = FALSE;
   ec_group[0].hasdc = FALSE;
   uint32 zero = 0;
   /* Every slave latches the receive times of this one frame at its ports. */
   (void)ec_BWR(0, ECT_REG_DCTIME0, sizeof zero, &zero, EC_TIMEOUT_FRAME);

   for (uint16 i = 1; i <= count; i++)
   {
      ec_slavet *s = &ec_slave[i];
      s->consumedports = s->activeports;
      if (!s->hasdc)
      {
         s->DCrtA = s->DCrtB = s->DCrtC = s->DCrtD = 0;
         if (s->parent > 0 && s->parent < i && ec_slave[s->parent].topology > 2)
            held = s->parent;
         if (held > 0 && s->topology == 1)
         {
            (void)ec_parentport(held);
            held = 0;
         }
         continue;
      }
      ec_dc_chain(i, &previous);
      held = 0;
      ec_dc_readtimes(i);
      s->entryport = ec_dc_entryport(i);
      s->consumedports = (uint8)(s->consumedports & ~(1 << s->entryport));
      uint16 child = i;
      uint16 p = ec_dc_parent(i, &child);
      if (p > 0)
         ec_dc_delay(i, p, child);
   }
   return ec_slave[0].hasdc;
}

/* First SYNC0 pulse: the first whole cycle at least the lead time ahead of `now`, plus the
 * shift. Added in unsigned arithmetic, so that a nonsense time read from a slave wraps instead
 * of overflowing. */
static uint64 ec_dc_starttime(int64 now, uint32 cycle, uint32 shift)
{
   int64 ahead = (int64)((uint64)now + (uint64)EC_DCSTARTLEAD);
   if (cycle == 0)
      return (uint64)ahead + shift;
   return (uint64)(ahead / (int64)cycle + 1) * cycle + shift;
}

/* Switch the SYNC unit off, set start and cycle times against the slave's own system time and
 * switch it to `activation`. */
static void ec_dc_program(uint16 slave, uint8 activation, uint32 cycle0, const uint32 *cycle1,
                          uint32 shift)
{
   uint16 adr = ec_slave[slave].configadr;
   uint8 off = 0;
   (void)ec_FPWR(adr, ECT_REG_DCSYNCACT, sizeof off, &off, EC_TIMEOUT_FRAME);
   (void)ec_FPWR(adr, ECT_REG_DCCUC, sizeof off, &off, EC_TIMEOUT_FRAME);
   int64 now = 0;
   (void)ec_FPRD(adr, ECT_REG_DCSYSTIME, sizeof now, &now, EC_TIMEOUT_FRAME);
   uint64 start = ec_dc_starttime(now, cycle0, shift);
   (void)ec_FPWR(adr, ECT_REG_DCSTART0, sizeof start, &start, EC_TIMEOUT_FRAME);
   (void)ec_FPWR(adr, ECT_REG_DCCYCLE0, sizeof cycle0, &cycle0, EC_TIMEOUT_FRAME);
   if (cycle1 != NULL)
   {
      uint32 c1 = *cycle1;
      (void)ec_FPWR(adr, ECT_REG_DCCYCLE1, sizeof c1, &c1, EC_TIMEOUT_FRAME);
   }
   (void)ec_FPWR(adr, ECT_REG_DCSYNCACT, sizeof activation, &activation, EC_TIMEOUT_FRAME);
}

void ec_dcsync0(uint16 slave, boolean act, uint32 CyclTime, uint32 CyclShift)
{
   if (!ec_dc_slaveok(slave))
      return;
   ec_dc_program(slave, act ? EC_DCACT_SYNC0 : 0, CyclTime, NULL, CyclShift);
}

void ec_dcsync01(uint16 slave, boolean act, uint32 CyclTime0, uint32 CyclTime1, uint32 CyclShift)
{
   if (!ec_dc_slaveok(slave))
      return;
   ec_dc_program(slave, act ? EC_DCACT_SYNC01 : 0, CyclTime0, &CyclTime1, CyclShift);
}
