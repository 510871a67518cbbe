/*
 * The master's network port: frame buffers and their states, opening and closing, index
 * allocation, sending and receiving. The waits and the send-and-confirm exchange are in
 * nicwait.cpp.
 *
 * Every received frame is checked against what was actually read before a byte of it is used: a
 * frame shorter than its headers, or whose elength or datagram lengths point outside the bytes
 * received, is dropped and never copied.
 */
#include "nicdrv.h"

#include <arpa/inet.h>
#include <string.h>

#include "eclink.h"

const uint16 priMAC[3] = {0x0101, 0x0101, 0x0101};
const uint16 secMAC[3] = {0x0404, 0x0404, 0x0404};

ec_bufT ec_txbuf[EC_MAXBUF];
int ec_txbuflength[EC_MAXBUF];
ec_bufT ec_txbuf2;
int ec_txbuflength2;

ec_bufT ec_rxbuf[EC_MAXBUF];
int ec_rxbufstat[EC_MAXBUF];
int ec_rxsa[EC_MAXBUF];
ec_bufT ec_tempinbuf;
int ec_tempinbufs;

ec_bufT ec_rxbuf2[EC_MAXBUF];
int ec_rxbufstat2[EC_MAXBUF];
int ec_rxsa2[EC_MAXBUF];
ec_bufT ec_tempinbuf2;
int ec_tempinbufs2;

int sockhandle = -1;
int sockhandle2 = -1;
uint8 ec_lastidx;
int ec_redstate = ECT_RED_NONE;
/* Per index: an exact copy of the request came back on the primary port (see ec_inframe). */
static uint8 ec_copyback[EC_MAXBUF];

ec_stackT ec_stack[2] = {
   {&sockhandle, ec_txbuf, ec_txbuflength, &ec_tempinbuf, ec_rxbuf, ec_rxbufstat, ec_rxsa},
   {&sockhandle2, ec_txbuf, ec_txbuflength, &ec_tempinbuf2, ec_rxbuf2, ec_rxbufstat2, ec_rxsa2}};

pthread_mutex_t ec_getindex_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t ec_tx_mutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t ec_rx_mutex = PTHREAD_MUTEX_INITIALIZER;

/* Per buffer, the generation its frames carry now (the high nibble of the index byte). The first
 * frame of each buffer goes out under generation 0, as the buffer's number. */
static uint8 ec_idxgen[EC_MAXBUF] = {15, 15, 15, 15, 15, 15, 15, 15,
                                     15, 15, 15, 15, 15, 15, 15, 15};
/* Per port and tag, the frames sent under the tag that have not come back: a tag is handed out
 * again only at zero. Saturates at 255, which no exchange reaches. */
static uint8 ec_tagowed[2][EC_MAXTAG];
/* Per port and tag, replies still owed to a session that has ended (see ec_forgetowed), and when
 * the last such session ended. */
static uint8 ec_tagstale[2][EC_MAXTAG];
static int64 ec_staleat[2];
/* Per tag, the allocation count at which it was last handed out: when every tag of the free
 * buffers is owed a reply, the one handed out longest ago is taken again. */
static uint32 ec_tagused[EC_MAXTAG];
static uint32 ec_allocations;
static ec_portstatst ec_stats;

/* Offsets inside a raw frame (Ethernet header included). */
#define EC_SA1OFFSET 8
#define EC_ETYPEOFFSET 12
#define EC_RAWINDEXOFFSET (ETH_HEADERSIZE + 3)

static int *ec_tempinbuflength(int stacknumber)
{
   return stacknumber == 0 ? &ec_tempinbufs : &ec_tempinbufs2;
}

static int ec_validport(int stacknumber)
{
   return stacknumber == 0 || stacknumber == 1;
}

void ec_setupheader(void *p)
{
   ec_etherheadert header;
   header.da0 = htons(0xFFFF);
   header.da1 = htons(0xFFFF);
   header.da2 = htons(0xFFFF);
   header.sa0 = htons(priMAC[0]);
   header.sa1 = htons(priMAC[1]);
   header.sa2 = htons(priMAC[2]);
   header.etype = htons(ETH_P_ECAT);
   memcpy(p, &header, sizeof header);
}

/* The dummy frame of the secondary port: one BRD of 2 zero bytes of register 0, with the
 * secondary marking. Its index byte is set per send. */
static void ec_setupdummyframe(void)
{
   memset(ec_txbuf2, 0, sizeof ec_txbuf2);
   ec_setupheader(ec_txbuf2);
   uint16 sa1 = htons(secMAC[1]);
   memcpy(ec_txbuf2 + EC_SA1OFFSET, &sa1, sizeof sa1);
   uint8 *ecat = ec_txbuf2 + ETH_HEADERSIZE;
   ec_put16(ecat, EC_ELENGTHTYPE + EC_DGHEADERSIZE + 2 + EC_WKCSIZE);
   ecat[2] = EC_CMD_BRD;
   ecat[3] = 0;
   ec_put16(ecat + 4, 0);
   ec_put16(ecat + 6, 0);
   ec_put16(ecat + 8, 2);
   ec_txbuflength2 = EC_DUMMYFRAMELENGTH;
}

/* A port opened or closed holds no tag back any more. Replies still on the wire may reach the next
 * session's socket, though: they are remembered as replies of an ended session, so that they are
 * counted late rather than taken for another master's, and the generations go on across sessions,
 * so that such a reply meets no request under its own tag for the next 255 allocations. */
static void ec_forgetowed(int port)
{
   int any = 0;
   for (int tag = 0; tag < EC_MAXTAG; tag++)
   {
      int stale = ec_tagstale[port][tag] + ec_tagowed[port][tag];
      ec_tagstale[port][tag] = (uint8)(stale < 0xFF ? stale : 0xFF);
      any |= ec_tagowed[port][tag];
      ec_tagowed[port][tag] = 0;
   }
   if (any)
      ec_staleat[port] = ec_clock_now();
}

/* 1 when a reply still owed to an ended session may come under `tag`. After EC_STALEREPLY all such
 * replies are given up, so that they do not hide another master's for good. */
static int ec_stalereply(int stacknumber, uint8 tag)
{
   uint8 *stale = &ec_tagstale[stacknumber][tag];
   if (*stale == 0)
      return 0;
   /* A clock that went back is another clock (a test's): what was owed on the old one is gone. */
   int64 age = ec_clock_now() - ec_staleat[stacknumber];
   if (age < 0 || age > EC_STALEREPLY)
   {
      memset(ec_tagstale[stacknumber], 0, sizeof ec_tagstale[stacknumber]);
      return 0;
   }
   (*stale)--;
   return 1;
}

int ec_setupnic(const char *ifname, int secondary)
{
   int port = secondary ? 1 : 0;
   int *handle = ec_stack[port].sock;
   if (!secondary)
      ec_redstate = ECT_RED_NONE;
   const ec_linkt *link = ec_link();
   /* A session opened anew on an open port would otherwise leak the earlier socket. */
   if (*handle >= 0)
      link->close(link->ctx, *handle);
   *handle = link->open(link->ctx, ifname, port);
   if (*handle < 0)
   {
      *handle = -1;
      return 0;
   }
   if (secondary)
      ec_redstate = ECT_RED_DOUBLE;
   for (int i = 0; i < EC_MAXBUF; i++)
   {
      ec_setupheader(ec_txbuf[i]);
      ec_stack[port].rxbufstat[i] = EC_BUF_EMPTY;
   }
   ec_forgetowed(port);
   ec_setupheader(ec_txbuf2);
   return 1;
}

int ec_closenic(void)
{
   const ec_linkt *link = ec_link();
   for (int port = 0; port < 2; port++)
   {
      int *handle = ec_stack[port].sock;
      if (*handle >= 0)
         link->close(link->ctx, *handle);
      *handle = -1;
   }
   ec_redstate = ECT_RED_NONE;
   ec_forgetowed(0);
   ec_forgetowed(1);
   return 0;
}

static uint8 ec_maketag(uint8 idx, uint8 gen)
{
   return (uint8)((gen << 4) | idx);
}

static int ec_tagowing(uint8 tag)
{
   return ec_tagowed[0][tag] > 0 || ec_tagowed[1][tag] > 0;
}

/* The next generation of a free buffer under which no reply is owed: 1 and *gen set, or 0 when
 * replies are owed under all 16. */
static int ec_freegeneration(uint8 idx, uint8 *gen)
{
   for (int step = 1; step <= 16; step++)
   {
      uint8 g = (uint8)((ec_idxgen[idx] + step) & 0x0F);
      if (!ec_tagowing(ec_maketag(idx, g)))
      {
         *gen = g;
         return 1;
      }
   }
   return 0;
}

/* Every tag of every free buffer waits for a reply that has not come (256 frames lost in a row):
 * the tag handed out longest ago is given up, so that the port goes on working. The content check
 * of ec_inframe still stands between a reply that comes after that and the new request. */
static uint8 ec_reclaimoldest(uint8 *gen)
{
   uint8 best = EC_MAXBUF;
   uint32 bestage = 0;
   for (int idx = 0; idx < EC_MAXBUF; idx++)
   {
      if (ec_rxbufstat[idx] != EC_BUF_EMPTY)
         continue;
      for (int g = 0; g < 16; g++)
      {
         uint8 tag = ec_maketag((uint8)idx, (uint8)g);
         uint32 age = ec_allocations - ec_tagused[tag];
         if (best == EC_MAXBUF || age > bestage)
         {
            best = (uint8)idx;
            *gen = (uint8)g;
            bestage = age;
         }
      }
   }
   if (best < EC_MAXBUF)
   {
      uint8 tag = ec_maketag(best, *gen);
      ec_tagowed[0][tag] = 0;
      ec_tagowed[1][tag] = 0;
      ec_stats.reclaimed++;
   }
   return best;
}

/* The generation moves on with every use, so even a reply that is not owed (a duplicate) meets a
 * request under another tag for the next 255 allocations. */
uint8 ec_getindex(void)
{
   pthread_mutex_lock(&ec_getindex_mutex);
   uint8 idx = EC_MAXBUF;
   uint8 gen = 0;
   int anyempty = 0;
   for (int step = 1; step <= EC_MAXBUF && idx >= EC_MAXBUF; step++)
   {
      uint8 candidate = (uint8)((ec_lastidx + step) % EC_MAXBUF);
      if (ec_rxbufstat[candidate] != EC_BUF_EMPTY)
         continue;
      anyempty = 1;
      if (ec_freegeneration(candidate, &gen))
         idx = candidate;
   }
   if (idx >= EC_MAXBUF && anyempty)
      idx = ec_reclaimoldest(&gen);
   if (idx < EC_MAXBUF)
   {
      ec_idxgen[idx] = gen;
      ec_tagused[ec_maketag(idx, gen)] = ++ec_allocations;
      ec_rxbufstat[idx] = EC_BUF_ALLOC;
      ec_rxbufstat2[idx] = EC_BUF_ALLOC;
      ec_lastidx = idx;
   }
   else
      ec_stats.busy++;
   pthread_mutex_unlock(&ec_getindex_mutex);
   return idx;
}

uint8 ec_wireindex(uint8 idx)
{
   return idx < EC_MAXBUF ? ec_maketag(idx, ec_idxgen[idx]) : idx;
}

const ec_portstatst *ec_portstats(void)
{
   return &ec_stats;
}

void ec_noteresent(void)
{
   ec_stats.resent++;
}

void ec_noteunanswered(void)
{
   ec_stats.unanswered++;
}

/* Under ec_rx_mutex, as the dispatch of a received frame reads and writes the same states. */
void ec_setbufstat(uint8 idx, int bufstat)
{
   if (idx >= EC_MAXBUF)
      return;
   pthread_mutex_lock(&ec_rx_mutex);
   ec_rxbufstat[idx] = bufstat;
   ec_rxbufstat2[idx] = bufstat;
   pthread_mutex_unlock(&ec_rx_mutex);
}

/* A frame that never left owes no reply. */
static void ec_forgive(int stacknumber, uint8 tag)
{
   pthread_mutex_lock(&ec_rx_mutex);
   if (ec_tagowed[stacknumber][tag] > 0)
      ec_tagowed[stacknumber][tag]--;
   pthread_mutex_unlock(&ec_rx_mutex);
}

int ec_outframe(uint8 idx, int stacknumber)
{
   if (idx >= EC_MAXBUF || !ec_validport(stacknumber))
      return -1;
   ec_stackT *stack = &ec_stack[stacknumber];
   int length = stack->txbuflength[idx];
   int sent = -1;
   /* The reply is owed before the frame leaves: it may be back before send() returns. */
   pthread_mutex_lock(&ec_rx_mutex);
   uint8 tag = stack->txbuf[idx][EC_RAWINDEXOFFSET];
   stack->rxbufstat[idx] = EC_BUF_TX;
   if (stacknumber == 0)
      ec_copyback[idx] = 0;
   if (ec_tagowed[stacknumber][tag] < 0xFF)
      ec_tagowed[stacknumber][tag]++;
   pthread_mutex_unlock(&ec_rx_mutex);
   if (*stack->sock >= 0 && length > 0 && length <= EC_BUFSIZE)
   {
      const ec_linkt *link = ec_link();
      sent = link->send(link->ctx, *stack->sock, stack->txbuf[idx], length);
   }
   if (sent > 0)
      ec_stats.sent++;
   else
      ec_forgive(stacknumber, tag);
   return sent;
}

int ec_outframe_red(uint8 idx)
{
   if (idx >= EC_MAXBUF)
      return -1;
   uint16 sa1 = htons(priMAC[1]);
   memcpy(ec_txbuf[idx] + EC_SA1OFFSET, &sa1, sizeof sa1);
   int sent = ec_outframe(idx, 0);
   if (ec_redstate == ECT_RED_NONE)
      return sent;
   uint8 tag = ec_txbuf[idx][EC_RAWINDEXOFFSET];
   pthread_mutex_lock(&ec_rx_mutex);
   ec_rxbufstat2[idx] = EC_BUF_TX;
   if (ec_tagowed[1][tag] < 0xFF)
      ec_tagowed[1][tag]++;
   pthread_mutex_unlock(&ec_rx_mutex);
   int sent2 = -1;
   pthread_mutex_lock(&ec_tx_mutex);
   ec_txbuf2[EC_RAWINDEXOFFSET] = tag;
   sa1 = htons(secMAC[1]);
   memcpy(ec_txbuf2 + EC_SA1OFFSET, &sa1, sizeof sa1);
   if (sockhandle2 >= 0)
   {
      const ec_linkt *link = ec_link();
      sent2 = link->send(link->ctx, sockhandle2, ec_txbuf2, ec_txbuflength2);
   }
   pthread_mutex_unlock(&ec_tx_mutex);
   if (sent2 <= 0)
      ec_forgive(1, tag);
   return sent;
}

int ec_recvpkt(int stacknumber)
{
   if (!ec_validport(stacknumber))
      return 0;
   ec_stackT *stack = &ec_stack[stacknumber];
   int *received = ec_tempinbuflength(stacknumber);
   *received = 0;
   if (*stack->sock < 0)
      return 0;
   const ec_linkt *link = ec_link();
   int got = link->recv(link->ctx, *stack->sock, *stack->tempbuf, EC_BUFSIZE);
   if (got <= 0)
      return 0;
   /* A link reports the whole frame's length even when it stored only EC_BUFSIZE bytes; the
    * frame's own lengths are then checked against what is really in the buffer. */
   *received = got > EC_BUFSIZE ? EC_BUFSIZE : got;
   return 1;
}

/* Length of the EtherCAT part (elength word and all datagrams) of a raw frame of `received`
 * bytes, or 0 when the frame is not a well-formed EtherCAT frame: too short for its headers, or
 * an elength or a datagram length pointing beyond the bytes received. Bytes behind the EtherCAT
 * part (Ethernet padding) are allowed. */
static int ec_framelength(const uint8 *raw, int received)
{
   if (received < EC_FRAMEOVERHEAD)
      return 0;
   if (ntohs(ec_get16(raw + EC_ETYPEOFFSET)) != ETH_P_ECAT)
      return 0;
   const uint8 *ecat = raw + ETH_HEADERSIZE;
   int available = received - ETH_HEADERSIZE;
   int total = EC_HEADERSIZE + (ec_get16(ecat) & EC_ELENGTHMASK);
   if (total > available || total < EC_HEADERSIZE + EC_DGHEADERSIZE + EC_WKCSIZE)
      return 0;
   int offset = EC_HEADERSIZE;
   for (;;)
   {
      if (offset + EC_DGHEADERSIZE > total)
         return 0;
      uint16 dlength = ec_get16(ecat + offset + 6);
      offset += EC_DGHEADERSIZE + (dlength & EC_DLENGTHMASK) + EC_WKCSIZE;
      if (offset > total)
         return 0;
      if (!(dlength & EC_DATAGRAMFOLLOWS))
         break;
   }
   return offset == total ? total : 0;
}

/* 1 when a reply received under idx can be the answer to the request that now stands in
 * ec_txbuf[idx], 0 when it cannot. A reply carries its request's first datagram header unchanged
 * but for the address slaves count up (position and broadcast commands). A late reply to an
 * earlier use of the index (a frame that was only delayed, or answered again after a re-send)
 * would otherwise be taken for the answer to whatever the index carries now. Frames without the
 * primary marking (the redundancy dummy) are not judged. */
static int ec_answersrequest(const uint8 *raw, uint8 idx)
{
   if (ntohs(ec_get16(raw + EC_SA1OFFSET)) != EC_PRIMARY_SA1)
      return 1;
   const uint8 *reply = raw + ETH_HEADERSIZE;
   const uint8 *request = ec_txbuf[idx] + ETH_HEADERSIZE;
   uint8 command = request[2];
   if (reply[2] != command)
      return 0;
   if (ec_get16(reply + 6) != ec_get16(request + 6) || ec_get16(reply + 8) != ec_get16(request + 8))
      return 0;
   int countsaddress = command == EC_CMD_APRD || command == EC_CMD_APWR || command == EC_CMD_APRW ||
                       command == EC_CMD_ARMW || command == EC_CMD_BRD || command == EC_CMD_BWR ||
                       command == EC_CMD_BRW;
   return countsaddress || ec_get16(reply + 4) == ec_get16(request + 4);
}

/* 1 when the EtherCAT part received for idx is byte for byte the request that stands in
 * ec_txbuf[idx]. */
static int ec_isrequestcopy(const uint8 *raw, int length, uint8 idx)
{
   return length == ec_txbuflength[idx] - ETH_HEADERSIZE &&
          memcmp(raw + ETH_HEADERSIZE, ec_txbuf[idx] + ETH_HEADERSIZE, (size_t)length) == 0;
}

/* Store a received EtherCAT part of `length` bytes as the reply for idx on port `stack`. Only
 * bytes that were received are copied; when the request under idx was longer, the rest of the
 * request's length is zeroed, so that nobody reads an earlier reply's bytes as this one's. */
static void ec_storereply(ec_stackT *stack, uint8 idx, const uint8 *raw, int length)
{
   int requested = stack->txbuflength[idx] - ETH_HEADERSIZE;
   if (requested > EC_BUFSIZE - ETH_HEADERSIZE)
      requested = EC_BUFSIZE - ETH_HEADERSIZE;
   memcpy(stack->rxbuf[idx], raw + ETH_HEADERSIZE, (size_t)length);
   if (requested > length)
      memset(stack->rxbuf[idx] + length, 0, (size_t)(requested - length));
   stack->rxsa[idx] = ntohs(ec_get16(raw + EC_SA1OFFSET));
}

/* Working counter of the last datagram of a stored reply, or EC_NOFRAME when its elength does not
 * lie inside the buffer. */
static int ec_storedwkc(const uint8 *rxbuf)
{
   int l = ec_get16(rxbuf) & EC_ELENGTHMASK;
   if (l + EC_WKCSIZE > EC_BUFSIZE)
      return EC_NOFRAME;
   return ec_get16(rxbuf + l);
}

int ec_copyreturned(uint8 idx)
{
   return idx < EC_MAXBUF && ec_copyback[idx] && ec_rxbufstat[idx] == EC_BUF_TX;
}

int ec_takecopy(uint8 idx)
{
   if (!ec_copyreturned(idx))
      return EC_NOFRAME;
   pthread_mutex_lock(&ec_rx_mutex);
   ec_rxbufstat[idx] = EC_BUF_COMPLETE;
   /* The copy stands for the reply now. Should the real one still come, nothing is owed under
    * the tag any more and it is dropped; the generation has moved on by then. */
   uint8 *owed = &ec_tagowed[0][ec_wireindex(idx)];
   if (*owed > 0)
      (*owed)--;
   pthread_mutex_unlock(&ec_rx_mutex);
   return ec_storedwkc(ec_rxbuf[idx]);
}

/* 1 when a frame of `length` EtherCAT bytes is byte for byte the reply last stored under its tag:
 * a copy the network delivered twice. */
static int ec_isrepeat(const ec_stackT *stack, uint8 tag, const uint8 *raw, int length)
{
   uint8 idx = EC_TAGBUF(tag);
   return tag == ec_wireindex(idx) && length <= stack->txbuflength[idx] - ETH_HEADERSIZE &&
          memcmp(stack->rxbuf[idx], raw + ETH_HEADERSIZE, (size_t)length) == 0;
}

/* Settle what is owed for a well-formed frame received under `tag` on a port. An exact copy of
 * the request is no reply yet: the real one may follow, and the copy is settled when the wait
 * takes it (ec_takecopy). A frame that nothing is owed for either repeats a reply already taken or
 * answers a request that this master never sent. */
static void ec_settle(const ec_stackT *stack, int stacknumber, const uint8 *raw, int length,
                      int current, int copy)
{
   uint8 tag = raw[EC_RAWINDEXOFFSET];
   uint8 *owed = &ec_tagowed[stacknumber][tag];
   if (*owed == 0)
   {
      if (ec_stalereply(stacknumber, tag))
         ec_stats.late++;
      else if (ec_isrepeat(stack, tag, raw, length))
         ec_stats.duplicate++;
      else
         ec_stats.unexpected++;
      return;
   }
   if (current && copy)
      return;
   (*owed)--;
   if (!current)
      ec_stats.late++;
}

/* Hand a well-formed frame to the buffer whose current tag it carries (see ec_inframe); called
 * under ec_rx_mutex. */
static int ec_dispatch(ec_stackT *stack, int stacknumber, uint8 idx, const uint8 *raw, int length)
{
   int rval = EC_OTHERFRAME;
   uint8 tag = raw[EC_RAWINDEXOFFSET];
   uint8 frameidx = EC_TAGBUF(tag);
   /* Only the tag whose frame is out takes a reply. A late or second reply to an exchange
    * that already ended would otherwise be taken for the answer to the buffer's next request,
    * or mark it received and keep it out of use until the port is opened again. */
   int current = tag == ec_wireindex(frameidx) && stack->rxbufstat[frameidx] == EC_BUF_TX &&
                 ec_answersrequest(raw, frameidx);
   int copy = current && stacknumber == 0 && ec_redstate == ECT_RED_NONE &&
              ec_isrequestcopy(raw, length, frameidx);
   ec_settle(stack, stacknumber, raw, length, current, copy);
   if (current)
   {
      ec_storereply(stack, frameidx, raw, length);
      if (copy)
      {
         /* Exactly the request: no slave took part, or the frame never reached the bus (a loop
          * in the network sends the master's frames straight back). The real reply may still
          * follow, so the index stays open; the wait takes the copy only when nothing else
          * comes (ec_takecopy). */
         ec_copyback[frameidx] = 1;
      }
      else if (frameidx == idx)
      {
         rval = ec_get16(stack->rxbuf[idx] + length - EC_WKCSIZE);
         stack->rxbufstat[idx] = EC_BUF_COMPLETE;
      }
      else
         stack->rxbufstat[frameidx] = EC_BUF_RCVD;
   }
   return rval;
}

int ec_inframe(uint8 idx, int stacknumber)
{
   if (!ec_validport(stacknumber))
      return EC_NOFRAME;
   ec_stackT *stack = &ec_stack[stacknumber];
   if (idx < EC_MAXBUF && stack->rxbufstat[idx] == EC_BUF_RCVD)
   {
      int wkc = ec_storedwkc(stack->rxbuf[idx]);
      stack->rxbufstat[idx] = EC_BUF_COMPLETE;
      return wkc;
   }
   int rval = EC_NOFRAME;
   pthread_mutex_lock(&ec_rx_mutex);
   if (ec_recvpkt(stacknumber))
   {
      rval = EC_OTHERFRAME;
      const uint8 *raw = *stack->tempbuf;
      int length = ec_framelength(raw, *ec_tempinbuflength(stacknumber));
      if (length > 0)
         rval = ec_dispatch(stack, stacknumber, idx, raw, length);
   }
   pthread_mutex_unlock(&ec_rx_mutex);
   return rval;
}

int ec_init(const char *ifname)
{
   return ec_setupnic(ifname, 0);
}

int ec_init_redundant(const char *ifname, const char *if2name)
{
   if (ec_setupnic(ifname, 0) <= 0)
      return 0;
   if (ec_setupnic(if2name, 1) <= 0)
   {
      ec_closenic();
      return 0;
   }
   ec_setupdummyframe();
   return 1;
}

void ec_close(void)
{
   ec_closenic();
}
