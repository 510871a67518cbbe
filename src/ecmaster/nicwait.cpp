/*
 * Waiting for replies: the polling wait on one or both ports, with the recovery of a broken
 * redundant ring, and the send-and-confirm exchange with its retry rule.
 *
 * The waits spin on the clock seam without sleeping, so a reply is seen as soon as it arrives;
 * with a virtual clock the bus advances time and the waits stay deterministic.
 */
#include <string.h>

#include "eclink.h"
#include "nicdrv.h"

/* One attempt of ec_srconfirm waits at most this long before the frame is sent again. */
#define EC_RETRYINTERVAL 500

static struct timeval ec_deadline(int timeout)
{
   struct timeval tv;
   ec_clock_now(&tv);
   if (timeout < 0)
      timeout = 0;
   long usec = (long)tv.tv_usec + timeout;
   tv.tv_sec += usec / 1000000;
   tv.tv_usec = usec % 1000000;
   return tv;
}

/* 1 when the clock has reached deadline: seconds greater, or equal with microseconds not
 * smaller. */
static int ec_passed(const struct timeval *deadline)
{
   struct timeval now;
   ec_clock_now(&now);
   if (now.tv_sec != deadline->tv_sec)
      return now.tv_sec > deadline->tv_sec;
   return now.tv_usec >= deadline->tv_usec;
}

/* Bytes of the reply for idx as it stands in a receive buffer: the request's length without its
 * Ethernet header, bounded by the buffer. */
static size_t ec_replylength(uint8 idx)
{
   int length = ec_txbuflength[idx] - ETH_HEADERSIZE;
   if (length <= 0)
      return 0;
   if (length > EC_BUFSIZE - ETH_HEADERSIZE)
      length = EC_BUFSIZE - ETH_HEADERSIZE;
   return (size_t)length;
}

/* The ring is broken before the secondary port's cable, or the frame got lost on the way: send
 * the frame once more through the secondary port and take what comes back there. */
static int ec_resendsecondary(uint8 idx, int wkc)
{
   struct timeval deadline = ec_deadline(EC_RETRYINTERVAL);
   ec_outframe(idx, 1);
   int wkc2;
   do
   {
      wkc2 = ec_inframe(idx, 1);
   } while (wkc2 < 0 && !ec_passed(&deadline));
   if (wkc2 < 0)
      return wkc;
   memcpy(ec_rxbuf[idx], ec_rxbuf2[idx], ec_replylength(idx));
   return wkc2;
}

/* Sort out what came back on the two ports of a redundant ring, by the marking of the port each
 * frame left through. */
static int ec_redundantresult(uint8 idx, int wkc, int wkc2)
{
   int primrx = wkc >= 0 ? ec_rxsa[idx] : 0;
   int secrx = wkc2 >= 0 ? ec_rxsa2[idx] : 0;
   if (primrx == EC_SECONDARY_SA1 && secrx == EC_PRIMARY_SA1)
   {
      /* Ring intact: the request went round to the secondary port, the dummy the other way. */
      memcpy(ec_rxbuf[idx], ec_rxbuf2[idx], ec_replylength(idx));
      return wkc2;
   }
   if (primrx == EC_PRIMARY_SA1 && secrx == EC_SECONDARY_SA1)
   {
      /* Ring broken: each frame came back on its own port, the request having passed only the
       * slaves before the break. Send it on to the slaves behind the break. */
      memcpy(ec_txbuf[idx] + ETH_HEADERSIZE, ec_rxbuf[idx], ec_replylength(idx));
      return ec_resendsecondary(idx, wkc);
   }
   if (primrx == 0 && secrx == EC_SECONDARY_SA1)
      return ec_resendsecondary(idx, wkc);
   return wkc;
}

int ec_waitinframe_red(uint8 idx, struct timeval tvs)
{
   if (idx >= EC_MAXBUF)
      return EC_NOFRAME;
   int redundant = ec_redstate != ECT_RED_NONE;
   int wkc = EC_NOFRAME;
   int wkc2 = redundant ? EC_NOFRAME : 0;
   do
   {
      if (wkc < 0)
         wkc = ec_inframe(idx, 0);
      if (redundant && wkc2 < 0)
         wkc2 = ec_inframe(idx, 1);
   } while ((wkc < 0 || wkc2 < 0) && !ec_passed(&tvs));
   if (!redundant)
      return wkc;
   return ec_redundantresult(idx, wkc, wkc2);
}

int ec_waitinframe(uint8 idx, int timeout)
{
   int wkc = ec_waitinframe_red(idx, ec_deadline(timeout));
   if (wkc < 0)
      ec_setbufstat(idx, EC_BUF_EMPTY);
   return wkc;
}

int ec_srconfirm(uint8 idx, int timeout)
{
   if (idx >= EC_MAXBUF)
      return EC_NOFRAME;
   int wkc = EC_NOFRAME;
   struct timeval overall = ec_deadline(timeout);
   do
   {
      ec_outframe_red(idx);
      int attempt = timeout < EC_RETRYINTERVAL ? timeout : EC_RETRYINTERVAL;
      wkc = ec_waitinframe_red(idx, ec_deadline(attempt));
   } while (wkc < 0 && !ec_passed(&overall));
   if (wkc < 0)
      ec_setbufstat(idx, EC_BUF_EMPTY);
   return wkc;
}
