/*
 * The raw packet socket that carries the master's frames on a real interface, and the monotonic
 * clock. Opening needs the rights for a raw socket (root or CAP_NET_RAW).
 */
#include "rawsocket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "ectiming.h"
#include "ethercattype.h"

static void rawsocket_options(int fd)
{
   /* A receive that finds nothing should return at once; the waits above poll the clock. */
   struct timeval timeout;
   timeout.tv_sec = 0;
   timeout.tv_usec = 1;
   int dontroute = 1;
   setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
   setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
   setsockopt(fd, SOL_SOCKET, SO_DONTROUTE, &dontroute, sizeof dontroute);
}

/* The interface index of ifname, or -1 when there is no such interface. The flags are only read:
 * the port changes nothing on the interface. */
static int rawsocket_ifindex(int fd, const char *ifname)
{
   struct ifreq ifr;
   if (strlen(ifname) >= sizeof ifr.ifr_name)
      return -1;
   memset(&ifr, 0, sizeof ifr);
   strncpy(ifr.ifr_name, ifname, sizeof ifr.ifr_name - 1);
   if (ioctl(fd, SIOCGIFINDEX, &ifr) < 0)
      return -1;
   int ifindex = ifr.ifr_ifindex;
   ioctl(fd, SIOCGIFFLAGS, &ifr);
   return ifindex;
}

/* Most frames thrown away at an open: far more than a receive queue holds, yet a bound on the
 * loop when the interface itself carries a stream of frames. */
#define RAWSOCKET_DRAINMAX 4096

/* What came for this interface between bind() and the first send is no reply of this session:
 * nothing has been sent yet that a frame could answer, so all of it is thrown away before anyone
 * reads the socket. */
static void rawsocket_drain(int fd)
{
   uint8 frame[EC_BUFSIZE];
   for (int n = 0; n < RAWSOCKET_DRAINMAX && recv(fd, frame, sizeof frame, MSG_DONTWAIT) >= 0; n++)
   {
   }
}

/* Closing a packet socket waits out a grace period of the kernel's (some 7 ms here) before
 * close() returns. A session's end need not wait for it, least of all the firmware update's, which
 * opens and closes a session for every controller: a thread of the port's own, started at the
 * first open, closes the sockets. The socket is bound to nothing new meanwhile and nobody reads it;
 * should the thread not start, the port closes its sockets itself. */
static int rawsocket_closer_pipe[2] = {-1, -1};
static pid_t rawsocket_closer_pid; /* a child made by fork() has no such thread */
/* Sockets handed to the thread and not yet closed: each is still bound and takes the interface's
 * frames, so a caller that opens and closes faster than the kernel lets go of them waits for
 * them itself beyond RAWSOCKET_CLOSING_MAX. */
static int rawsocket_closing;
static pthread_once_t rawsocket_closer_once = PTHREAD_ONCE_INIT;

static void *rawsocket_closer(void *arg)
{
   (void)arg;
   int fd;
   while (read(rawsocket_closer_pipe[0], &fd, sizeof fd) == (ssize_t)sizeof fd)
   {
      close(fd);
      __atomic_sub_fetch(&rawsocket_closing, 1, __ATOMIC_RELEASE);
   }
   return NULL;
}

static void rawsocket_start_closer(void)
{
   rawsocket_closer_pid = getpid();
   if (pipe2(rawsocket_closer_pipe, O_CLOEXEC) != 0)
   {
      rawsocket_closer_pipe[0] = rawsocket_closer_pipe[1] = -1;
      return;
   }
   pthread_attr_t attr;
   pthread_attr_init(&attr);
   pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
   /* The program's signals are none of its business. */
   sigset_t all, old;
   sigfillset(&all);
   pthread_sigmask(SIG_SETMASK, &all, &old);
   pthread_t thread;
   int started = pthread_create(&thread, &attr, rawsocket_closer, NULL) == 0;
   pthread_sigmask(SIG_SETMASK, &old, NULL);
   pthread_attr_destroy(&attr);
   if (!started)
   {
      close(rawsocket_closer_pipe[0]);
      close(rawsocket_closer_pipe[1]);
      rawsocket_closer_pipe[0] = rawsocket_closer_pipe[1] = -1;
   }
}

static int rawsocket_open(void *ctx, const char *ifname, int port)
{
   pthread_once(&rawsocket_closer_once, rawsocket_start_closer);
   (void)ctx;
   (void)port;
   if (ifname == NULL)
      return -1;
   /* Opened for no protocol: it takes no frame until it is bound, and binding it need not first
    * take it off every interface, for which the kernel would wait out a grace period (some 7 ms
    * here; closing costs one as well, see rawsocket_close). No program the master's process
    * starts inherits it. */
   int fd = socket(PF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);
   if (fd < 0)
      return -1;
   rawsocket_options(fd);
   int ifindex = rawsocket_ifindex(fd, ifname);
   if (ifindex < 0)
   {
      close(fd);
      return -1;
   }
   struct sockaddr_ll sll;
   memset(&sll, 0, sizeof sll);
   sll.sll_family = AF_PACKET;
   sll.sll_ifindex = ifindex;
   sll.sll_protocol = htons(ETH_P_ECAT);
   if (bind(fd, (struct sockaddr *)&sll, sizeof sll) < 0)
   {
      close(fd);
      return -1;
   }
   rawsocket_drain(fd);
   return fd;
}

static int rawsocket_send(void *ctx, int handle, const void *frame, int len)
{
   (void)ctx;
   if (handle < 0 || frame == NULL || len <= 0)
      return -1;
   ssize_t sent = send(handle, frame, (size_t)len, 0);
   return sent < 0 ? -1 : (int)sent;
}

static int rawsocket_recv(void *ctx, int handle, void *buf, int size)
{
   (void)ctx;
   if (handle < 0 || buf == NULL || size <= 0)
      return -1;
   /* MSG_DONTWAIT as well as the 1 µs timeout: the kernel rounds a socket timeout up to a whole
    * tick, which would stall every empty poll by milliseconds. */
   ssize_t got = recv(handle, buf, (size_t)size, MSG_DONTWAIT);
   if (got >= 0)
      return (int)got;
   if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
      return 0;
   return -1;
}

/* ppoll, since poll() counts in milliseconds and a reply is due within microseconds. */
static int rawsocket_wait(void *ctx, int handle, int usec)
{
   (void)ctx;
   if (handle < 0 || usec < 0)
      return -1;
   struct pollfd p;
   p.fd = handle;
   p.events = POLLIN;
   p.revents = 0;
   struct timespec timeout;
   timeout.tv_sec = usec / 1000000;
   timeout.tv_nsec = (long)(usec % 1000000) * 1000;
   int ready = ppoll(&p, 1, &timeout, NULL);
   if (ready < 0)
      return errno == EINTR ? 1 : -1;
   return ready > 0 ? 1 : 0;
}

static void rawsocket_close(void *ctx, int handle)
{
   (void)ctx;
   if (handle < 0)
      return;
   int pipe_in = rawsocket_closer_pid == getpid() ? rawsocket_closer_pipe[1] : -1;
   if (pipe_in >= 0 &&
       __atomic_add_fetch(&rawsocket_closing, 1, __ATOMIC_ACQUIRE) <= RAWSOCKET_CLOSING_MAX)
   {
      if (write(pipe_in, &handle, sizeof handle) == (ssize_t)sizeof handle)
         return;
   }
   if (pipe_in >= 0)
      __atomic_sub_fetch(&rawsocket_closing, 1, __ATOMIC_RELEASE);
   close(handle);
}

static int64_t monotonic_ns(void)
{
   struct timespec ts;
   clock_gettime(CLOCK_MONOTONIC, &ts);
   return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

static int64_t monotonic_now(void *ctx)
{
   (void)ctx;
   return monotonic_ns() / 1000;
}

/* clock_nanosleep on the same clock as the deadlines, resumed after a signal so that a pause is
 * never cut short, up to EC_SLEEPSPIN before its end; the rest looks at the clock, since the
 * kernel wakes the thread late. The kernel may also end a sleep late by the thread's timer slack,
 * 50 µs unless set: the bus thread's slack is therefore set to 1 µs at its first pause; its other
 * waits (the port's ppoll) gain from it as well. */
static void monotonic_sleep(void *ctx, uint32_t usec)
{
   (void)ctx;
   static __thread int slack_set;
   if (!slack_set)
   {
      (void)prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL); /* without it, only later */
      slack_set = 1;
   }
   const int64_t end = monotonic_ns() + (int64_t)usec * 1000;
   if (usec > EC_SLEEPSPIN)
   {
      const int64_t wake = end - EC_SLEEPSPIN * 1000;
      struct timespec ts;
      ts.tv_sec = (time_t)(wake / 1000000000);
      ts.tv_nsec = (long)(wake % 1000000000);
      while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, NULL) == EINTR)
      {
      }
   }
   while (monotonic_ns() < end)
   {
   }
}

static const ec_linkt rawsocket_link = {NULL,           rawsocket_open,  rawsocket_send,
                                        rawsocket_recv, rawsocket_close, rawsocket_wait};
static const ec_clockt system_clock = {NULL, monotonic_now, monotonic_sleep};

const ec_linkt *ec_rawsocket_link(void)
{
   return &rawsocket_link;
}

const ec_clockt *ec_system_clock(void)
{
   return &system_clock;
}
