/*
 * Waiting for replies: the wait on one or both ports, with the recovery of a broken redundant
 * ring, and the send-and-confirm exchange with its retry rule.
 *
 * A wait polls the port for EC_SPINTIME µs, long enough for a reply from a healthy bus to be seen
 * the moment it arrives, and then sleeps in the link until a frame comes or the deadline passes,
 * so a slow reply does not cost a CPU that the application (and on a test host, the emulated
 * slaves) need. Every reading of time goes through the clock seam, so with a virtual clock the
 * waits stay deterministic.
 */
#include <string.h>

#include "eclink.h"
#include "nicdrv.h"

/* Deadlines are microseconds on the master's clock, which never steps. */
static int64 ec_deadline(int timeout)
{
   return ec_clock_now() + (timeout < 0 ? 0 : timeout);
}

/* 1 when the clock has reached deadline. */
static int ec_passed(int64 deadline)
{
   return ec_clock_now() >= deadline;
}

/* Microseconds from now until deadline, 0 when it has passed. */
static int ec_remaining(int64 deadline)
{
   int64 usec = deadline - ec_clock_now();
   if (usec <= 0)
      return 0;
   return usec > 1000000000 ? 1000000000 : (int)usec;
}

static int64 ec_earlier(int64 a, int64 b)
{
   return a < b ? a : b;
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
   int64 deadline = ec_deadline(EC_RETRYINTERVAL);
   ec_outframe(idx, 1);
   int wkc2;
   int expired;
   do
   {
      expired = ec_passed(deadline);
      wkc2 = ec_inframe(idx, 1);
   } while (wkc2 < 0 && !expired);
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

int ec_waitinframe_red(uint8 idx, int64 tvs)
{
   if (idx >= EC_MAXBUF)
      return EC_NOFRAME;
   int redundant = ec_redstate != ECT_RED_NONE;
   int wkc = EC_NOFRAME;
   int wkc2 = redundant ? EC_NOFRAME : 0;
   int64 spinend = ec_deadline(EC_SPINTIME);
   int copyseen = 0;
   for (;;)
   {
      /* The clock is read before the port, so the last read happens after the deadline: a reply
       * that came in while this thread was not running is still taken. */
      int expired = ec_passed(tvs);
      if (wkc < 0)
         wkc = ec_inframe(idx, 0);
      if (redundant && wkc2 < 0)
         wkc2 = ec_inframe(idx, 1);
      if ((wkc >= 0 && wkc2 >= 0) || expired)
         break;
      if (!redundant && !copyseen && wkc < 0 && ec_copyreturned(idx))
      {
         copyseen = 1;
         tvs = ec_earlier(tvs, ec_deadline(EC_COPYGRACE));
      }
      /* Sleeping on one port would miss the other's frames: a ring keeps polling. A foreign
       * frame (EC_OTHERFRAME) may have more behind it, so the port is read again first. */
      if (!redundant && wkc == EC_NOFRAME && ec_passed(spinend))
         ec_link_wait(sockhandle, ec_remaining(tvs));
   }
   if (!redundant)
      return wkc < 0 && ec_copyreturned(idx) ? ec_takecopy(idx) : wkc;
   return ec_redundantresult(idx, wkc, wkc2);
}

int ec_waitinframe(uint8 idx, int timeout)
{
   int wkc = ec_waitinframe_red(idx, ec_deadline(timeout));
   if (wkc < 0)
   {
      /* The tag stays owed: should the reply still come, it answers nothing. */
      ec_setbufstat(idx, EC_BUF_EMPTY);
      ec_noteunanswered();
   }
   return wkc;
}

/* The exchange behind ec_srconfirm and ec_srconfirmonce. A frame re-sent after a reply was only
 * late is answered twice; the tag stays owed the second answer, which then answers nothing. */
static int ec_exchangeframe(uint8 idx, int timeout, int resend)
{
   if (idx >= EC_MAXBUF)
      return EC_NOFRAME;
   int patience;
   if (timeout >= 0 && (timeout & EC_ONEATTEMPT_MARK))
   {
      patience = timeout & ~EC_ONEATTEMPT_MARK;
      resend = 0;
   }
   else if (resend)
      patience = EC_DEAD_PATIENT(timeout);
   else
      /* A frame sent once cannot be made up for by a repetition; waiting long for its reply would
       * only delay the caller's check of whether it landed. */
      patience = EC_DEAD_ONCE(timeout);
   int64 overall = ec_deadline(patience);
   int wkc = EC_NOFRAME;
   int sends = 0;
   do
   {
      if (sends == 0 || resend)
      {
         ec_outframe_red(idx);
         if (sends > 0)
            ec_noteresent();
         sends++;
      }
      int64 attempt = resend ? ec_earlier(ec_deadline(EC_RETRYINTERVAL), overall) : overall;
      wkc = ec_waitinframe_red(idx, attempt);
   } while (wkc < 0 && !ec_passed(overall));
   if (wkc < 0)
   {
      ec_setbufstat(idx, EC_BUF_EMPTY);
      ec_noteunanswered();
   }
   return wkc;
}

int ec_srconfirm(uint8 idx, int timeout)
{
   return ec_exchangeframe(idx, timeout, 1);
}

int ec_srconfirmonce(uint8 idx, int timeout)
{
   return ec_exchangeframe(idx, timeout, 0);
}
