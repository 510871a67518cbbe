/*
 * The master's network port: the raw Ethernet port (and for cable redundancy a second one), the 16
 * frame buffers with their states, frame index allocation, sending, receiving with dispatch of
 * replies that belong to another index, and the blocking send-and-confirm exchange that every
 * layer above is built on.
 *
 * All socket traffic goes through the link seam and every clock reading through the clock seam
 * (eclink.h). The master only sends frames that come back: a reply is the request after it passed
 * all slaves, recognised by its frame index.
 *
 * A frame's index byte carries more than the buffer it belongs to: the low four bits are the
 * buffer (0..15), the high four a generation that moves on with every use of the buffer. The pair
 * (the tag) is handed out again only when every frame sent under it came back, so a reply that
 * comes late, however late, or twice, finds no request it could answer. Only when all 256 tags
 * wait for replies that never came is the one given up longest ago taken again: lost frames never
 * block the port. Opening or closing the port frees every tag, but the generations go on and a
 * reply still owed to the ended session is recognised as late when it reaches the next one.
 *
 * Threads: the master is driven from one thread at a time (the application's bus session sees to
 * that). The three mutexes keep index allocation, the dispatch of a received frame into the
 * buffers and the state changes of a buffer consistent should two threads exchange frames at
 * once; none is held across a wait, and none while another is taken.
 */
#ifndef NICDRV_H
#define NICDRV_H

#include <pthread.h>

#include "ethercattype.h"

/* Results of the receive functions besides a working counter (0 or more). */
#define EC_NOFRAME (-1)    /* no frame arrived */
#define EC_OTHERFRAME (-2) /* a frame arrived, but not the awaited one */

/* Markings of the source word sa1: through which port a frame last left the master. */
#define EC_PRIMARY_SA1 0x0101
#define EC_SECONDARY_SA1 0x0404

/* Tags of the index byte: buffer in the low, generation in the high nibble. */
#define EC_MAXTAG 256
#define EC_TAGBUF(tag) ((uint8)((tag)&0x0F))

/* What the port met since the program started, over all its sessions: for diagnostics and for
 * telling a bad cable from another master on the same wire. */
typedef struct
{
   uint32 sent;       /* frames sent, re-sends included */
   uint32 resent;     /* re-sends of a frame that had no reply yet */
   uint32 unanswered; /* exchanges given up without a reply */
   uint32 late;       /* replies that came after their exchange had ended, dropped */
   uint32 duplicate;  /* second copies of a reply already taken */
   uint32 unexpected; /* EtherCAT frames under a tag with no frame out that are no copy of a
                          reply taken: answers to requests this master did not send, as another
                          master on the same wire gets them */
   uint32 reclaimed;  /* tags taken again while a reply to them was still owed */
   uint32 busy;       /* ec_getindex calls that found all 16 buffers in use */
} ec_portstatst;

/* Length of the dummy frame sent on the secondary port: one BRD datagram of 2 bytes. */
#define EC_DUMMYFRAMELENGTH 30

/* One port's view of the buffers: entry 0 of ec_stack is the primary port, entry 1 the secondary.
 * Both ports send from the same transmit buffers. */
typedef struct
{
   int *sock;
   ec_bufT *txbuf;   /* EC_MAXBUF frames */
   int *txbuflength; /* EC_MAXBUF lengths */
   ec_bufT *tempbuf; /* one raw receive buffer */
   ec_bufT *rxbuf;   /* EC_MAXBUF replies without the Ethernet header */
   int *rxbufstat;   /* EC_MAXBUF buffer states */
   int *rxsa;        /* EC_MAXBUF sa1 words of the replies, host order */
} ec_stackT;

extern const uint16 priMAC[3];
extern const uint16 secMAC[3];

extern ec_bufT ec_txbuf[EC_MAXBUF];
extern int ec_txbuflength[EC_MAXBUF];
extern ec_bufT ec_txbuf2;
extern int ec_txbuflength2;

extern ec_bufT ec_rxbuf[EC_MAXBUF];
extern int ec_rxbufstat[EC_MAXBUF];
extern int ec_rxsa[EC_MAXBUF];
extern ec_bufT ec_tempinbuf;
extern int ec_tempinbufs;

extern ec_bufT ec_rxbuf2[EC_MAXBUF];
extern int ec_rxbufstat2[EC_MAXBUF];
extern int ec_rxsa2[EC_MAXBUF];
extern ec_bufT ec_tempinbuf2;
extern int ec_tempinbufs2;

extern int sockhandle;
extern int sockhandle2;
extern uint8 ec_lastidx;
extern int ec_redstate;
extern ec_stackT ec_stack[2];

extern pthread_mutex_t ec_getindex_mutex;
extern pthread_mutex_t ec_tx_mutex;
extern pthread_mutex_t ec_rx_mutex;

/* Open the primary (secondary = 0) or the secondary port on interface ifname: 1 when open, 0 when
 * the interface does not exist or the rights for a raw socket are missing. */
int ec_setupnic(const char *ifname, int secondary);

/* Close both ports; the handles read -1 afterwards, so closing twice closes nothing else.
 * Always 0. */
int ec_closenic(void);

/* Write the Ethernet header (broadcast, primary source marking, EtherCAT type) into the first 14
 * bytes of frame buffer p. */
void ec_setupheader(void *p);

/* A frame index 0..15, marked EC_BUF_ALLOC in both receive sets, with a fresh tag for its next
 * frame (ec_wireindex). Indexes go round-robin. EC_MAXBUF when all 16 are in use: the caller then
 * sends nothing and reports EC_NOFRAME. */
uint8 ec_getindex(void);

/* The index byte that frames of idx carry now: idx in the low, its generation in the high nibble.
 * The frame builders write it; idx itself for an idx of 16 or more. */
uint8 ec_wireindex(uint8 idx);

/* What the port met since the program started (see ec_portstatst). */
const ec_portstatst *ec_portstats(void);
/* Counted by the waits (nicwait.cpp): a re-send, an exchange given up. */
void ec_noteresent(void);
void ec_noteunanswered(void);

/* Set the state of idx in both receive sets; an idx of 16 or more is ignored. */
void ec_setbufstat(uint8 idx, int bufstat);

/* 1 while the only thing that came back for idx on the primary port is an exact copy of its
 * request: what a bus returns when no slave takes part, and also what a network loop returns
 * before the bus has answered. */
int ec_copyreturned(uint8 idx);
/* Take that copy as the reply (working counter 0, index completed; a real reply that still comes
 * is dropped): its working counter, or EC_NOFRAME when there is none. */
int ec_takecopy(uint8 idx);

/* Send ec_txbuf[idx] on port stacknumber and mark idx EC_BUF_TX there, noting that a reply is owed
 * under the frame's tag: the bytes sent, or -1 (also for a closed port, a bad index or port). */
int ec_outframe(uint8 idx, int stacknumber);

/* Send ec_txbuf[idx] on the primary port and, in redundant operation, the dummy frame on the
 * secondary one: the result of the primary send. */
int ec_outframe_red(uint8 idx);

/* Read one raw frame of port stacknumber into its tempbuf: 1 when bytes were read, else 0. */
int ec_recvpkt(int stacknumber);

/* The working counter of the reply for idx on port stacknumber; EC_NOFRAME when nothing arrived;
 * EC_OTHERFRAME when a frame arrived that was not the reply for idx (stored for its own index
 * when it was a well-formed reply to another one, dropped when not). */
int ec_inframe(uint8 idx, int stacknumber);

/* Wait until the time tvs (µs on the master's clock) for the reply for idx, on both ports in
 * redundant operation: the working counter, or EC_NOFRAME / EC_OTHERFRAME. The port is read once
 * more after tvs has passed, so a reply that arrived while the caller was not running still counts.
 * The wait polls for EC_SPINTIME µs and then sleeps in the link until a frame comes or tvs. */
int ec_waitinframe_red(uint8 idx, int64 tvs);

/* Wait up to timeout µs for the reply for idx: the working counter, or a negative value, in which
 * case idx is free again. */
int ec_waitinframe(uint8 idx, int timeout);

/* Send ec_txbuf[idx] and wait for its reply: the working counter (the reply is in ec_rxbuf[idx],
 * the caller frees idx), or a negative value, in which case idx is free again. A plain timeout is
 * a patient exchange, re-sent every EC_RETRYINTERVAL and awaited at least EC_TIMEOUT_REPLY; a
 * reply to any of the sends counts. EC_ONEATTEMPT(t) sends once and waits t (ectiming.h). */
int ec_srconfirm(uint8 idx, int timeout);

/* As ec_srconfirm, but the frame is sent once and never repeated: for a write that must not land
 * twice (a mailbox message, an EEPROM command). Its reply is awaited at least EC_TIMEOUT_SAFE. */
int ec_srconfirmonce(uint8 idx, int timeout);

/* Open the master's port on ifname: 1 when open, 0 when not. Every tag is free again (see above). */
int ec_init(const char *ifname);

/* Open the primary port on ifname and the secondary on if2name for cable redundancy: greater than 0
 * only when both are open; when one fails neither is left open. */
int ec_init_redundant(const char *ifname, const char *if2name);

/* Close the master's ports. */
void ec_close(void);

#endif
