/*
 * FoE (File access over EtherCAT): moves one whole file between the master and one slave through
 * the slave's mailbox. The firmware writer uses the write direction to download controller
 * firmware into a slave in BOOT; the read direction follows the same packet rules.
 *
 * A file travels as numbered data packets of `maxdata` = mbx_l - 12 bytes each; the packet that
 * is shorter than `maxdata` ends the file. A write whose size is an exact multiple of `maxdata`
 * (and an empty write) therefore ends with an empty data packet, otherwise the slave could not
 * tell that the file is complete.
 *
 * Both operations are synchronous and wait only through the mailbox transport. Nothing is pushed
 * to the error list; the result is the only report.
 */
#ifndef ETHERCATFOE_H
#define ETHERCATFOE_H

#include "ethercattype.h"

/* FoE operation codes. */
enum
{
   ECT_FOE_READ = 0x01,
   ECT_FOE_WRITE = 0x02,
   ECT_FOE_DATA = 0x03,
   ECT_FOE_ACK = 0x04,
   ECT_FOE_ERROR = 0x05,
   ECT_FOE_BUSY = 0x06
};

/* Mailbox header plus FoE header in front of a file name, data or error text. */
#define EC_FOEHEADERSIZE 12
/* The most file name or data bytes one message can carry in a mailbox buffer. */
#define EC_MAXFOEDATA (EC_MAXMBX - EC_FOEHEADERSIZE)

#pragma pack(push, 1)
/* One FoE message as it lies in a mailbox buffer. */
typedef struct
{
   ec_mbxheadert MbxHeader;
   uint8 OpCode;
   uint8 Reserved;
   union
   {
      uint32 Password;
      uint32 PacketNumber;
      uint32 ErrorCode;
   };
   union
   {
      char FileName[EC_MAXFOEDATA];
      uint8 Data[EC_MAXFOEDATA];
      char ErrorText[EC_MAXFOEDATA];
   };
} ec_FOEt;
#pragma pack(pop)

static_assert(sizeof(ec_FOEt) == sizeof(ec_mbxbuft), "an FoE message fills one mailbox buffer");

/* Writes `psize` bytes from `p` to `slave` as the file `filename` (sent without its NUL and cut to
 * `maxdata` bytes) with `password`. `timeout` (µs) bounds the wait for each answer. A slave that
 * answers BUSY (a boot loader erasing its flash, say) did not take the message: it goes out again
 * after EC_FOE_BUSYPAUSE µs, at most EC_FOE_BUSYTRIES times in a row.
 * Returns:
 *   > 0  success: the working counter of the receive that brought the last acknowledgement;
 *   0    nothing could be exchanged: the slave number is not on the bus, the arguments are
 *        unusable, the slave's mailboxes cannot carry an FoE packet (write mailbox shorter than 13
 *        or longer than 1024 bytes, read mailbox shorter than 12 or longer than 1024 bytes), or a
 *        mailbox send or receive got no answer in time (the transport's own result, which may
 *        also be negative);
 *   -3   (-EC_ERR_TYPE_PACKET_ERROR) the answer was not FoE, had an impossible length, or an
 *        unexpected operation code, or the slave was still BUSY after EC_FOE_BUSYTRIES tries;
 *   -5   (-EC_ERR_TYPE_FOE_ERROR) the slave answered with an FoE error;
 *   -7   (-EC_ERR_TYPE_FOE_PACKETNUMBER) the acknowledged packet number is not the one sent. */
int ec_FOEwrite(uint16 slave, char *filename, uint32 password, int psize, void *p, int timeout);

/* Told after each acknowledgement of a write: `acked` of the `total` file bytes have reached the
 * slave (0 after the request itself). Called on the caller's thread; must not block, since the
 * slave waits for the next packet meanwhile. */
typedef void (*ec_FOEprogressfn)(void *arg, int acked, int total);

/* ec_FOEwrite that calls `fn` (when not NULL) with `arg` after each acknowledgement. Returns as
 * ec_FOEwrite. */
int ec_FOEwrite_progress(uint16 slave, char *filename, uint32 password, int psize, void *p,
                         int timeout, ec_FOEprogressfn fn, void *arg);

/* Reads the file `filename` from `slave` into `p`. On entry `*psize` is the capacity of `p`; after
 * every received message it holds the bytes stored so far. `timeout` (µs) bounds each wait.
 * Returns:
 *   > 0  success: the working counter of the send that acknowledged the last (short) packet. A
 *        packet is short when it does not fill the read mailbox, whose size may differ from the
 *        write mailbox's;
 *   0    nothing could be exchanged (as for ec_FOEwrite, except that the read mailbox must be
 *        longer than 12 bytes), or a send or receive failed;
 *   -3   the answer was not FoE, had an impossible length, or an unexpected operation code;
 *   -5   the slave answered with an FoE error;
 *   -6   (-EC_ERR_TYPE_FOE_BUF2SMALL) a packet came with the wrong number or would not fit `p`;
 *        it is neither stored nor acknowledged. */
int ec_FOEread(uint16 slave, char *filename, uint32 password, int *psize, void *p, int timeout);

#endif
