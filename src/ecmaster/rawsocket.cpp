/*
 * The raw packet socket that carries the master's frames on a real interface, and the monotonic
 * clock. Opening needs the rights for a raw socket (root or CAP_NET_RAW).
 */
#include "rawsocket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <poll.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

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

static int rawsocket_open(void *ctx, const char *ifname, int port)
{
   (void)ctx;
   (void)port;
   if (ifname == NULL)
      return -1;
   /* Opened for no protocol: it takes no frame until it is bound, and binding it need not first
    * take it off every interface, for which the kernel would wait out a grace period (some 7 ms
    * here; closing costs one as well, which cannot be helped). */
   int fd = socket(PF_PACKET, SOCK_RAW, 0);
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
   if (handle >= 0)
      close(handle);
}

static int64_t monotonic_now(void *ctx)
{
   (void)ctx;
   struct timespec ts;
   clock_gettime(CLOCK_MONOTONIC, &ts);
   return (int64_t)ts.tv_sec * 1000000 + ts.tv_nsec / 1000;
}

/* clock_nanosleep on the same clock as the deadlines, resumed after a signal so that a pause is
 * never cut short. The kernel may end a sleep late by the thread's timer slack, 50 µs unless set:
 * a quarter on top of each 200 µs pause of the EEPROM and mailbox polls, which make up most of an
 * enumeration. The bus thread's slack is therefore set to 1 µs at its first pause; its other
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
   struct timespec ts;
   ts.tv_sec = usec / 1000000;
   ts.tv_nsec = (long)(usec % 1000000) * 1000;
   while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR)
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
