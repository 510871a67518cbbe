/*
 * Datagram primitives: the master's register and memory access. Each primitive performs one
 * EtherCAT command as a blocking exchange of one frame (take an index, build the datagram, send and
 * confirm, copy read data back, free the index) and returns the working counter. Every layer above
 * reaches the slaves only through these functions and the two frame builders.
 *
 * Data travel as raw bytes in wire (little-endian) order. Lengths are checked at the door: a
 * datagram whose data would not fit into a frame buffer is refused with EC_ERR_LENGTH before
 * anything is written or sent.
 */
#ifndef ETHERCATBASE_H
#define ETHERCATBASE_H

#include "ethercattype.h"

/* Result of a builder or primitive that refused its arguments (data would not fit the frame, bad
 * frame index, missing data buffer). Negative, like every other failure of a primitive. */
#define EC_ERR_LENGTH (-3)

/* Most data the first datagram of ec_LRWDC can carry next to the 8-byte clock datagram. */
#define EC_MAXLRWDCDATA (EC_MAXDATA - EC_DGHEADERSIZE - EC_WKCSIZE - 8)

/* Write one datagram behind the Ethernet header of frame (EC_BUFSIZE bytes) and set
 * ec_txbuflength[idx]: 0, or EC_ERR_LENGTH when length exceeds EC_MAXDATA, idx is 16 or more, or
 * data is missing for length > 0 (nothing is written then). */
int ec_setupdatagram(void *frame, uint8 com, uint8 idx, uint16 ADP, uint16 ADO, uint16 length,
                     void *data);

/* Append a datagram to the frame of idx (built by ec_setupdatagram): the offset of the new
 * datagram's data in the receive buffer of the reply, or EC_ERR_LENGTH when it would not fit into
 * the frame buffer or the frame holds no datagram yet (nothing is written then). */
int ec_adddatagram(void *frame, uint8 com, uint8 idx, boolean more, uint16 ADP, uint16 ADO,
                   uint16 length, void *data);

/* Register access. Each returns the working counter of the reply (> 0 some slave processed it,
 * 0 nobody did), a negative value when no reply came (EC_NOFRAME, EC_OTHERFRAME; EC_NOFRAME also
 * when all frame buffers were in use and nothing was sent) or EC_ERR_LENGTH when length exceeds
 * EC_MAXDATA. `timeout` is a patient time-out or EC_ONEATTEMPT(t) (ectiming.h). Reads copy length bytes into data only when the working counter
 * is above 0; otherwise data keep their content. ADP is the negated position for the
 * auto-increment commands, the station address for the configured-address ones, 0 for
 * broadcasts. */
int ec_BWR(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout);
int ec_BRD(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout);
int ec_APRD(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout);
int ec_ARMW(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout);
int ec_FRMW(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout);
int ec_FPRD(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout);
int ec_APWR(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout);
int ec_FPWR(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout);
/* ec_FPWR and ec_APWR whose frame is sent once and never repeated, for a write that must not land
 * twice; the reply is awaited at least EC_TIMEOUT_SAFE. */
int ec_FPWRonce(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout);
int ec_APWRonce(uint16 ADP, uint16 ADO, uint16 length, void *data, int timeout);

/* Logical access through the slaves' FMMUs; results as above. LRD and LRW copy back only when the
 * reply's first datagram still carries the command sent. */
int ec_LRD(uint32 LogAdr, uint16 length, void *data, int timeout);
int ec_LWR(uint32 LogAdr, uint16 length, void *data, int timeout);
int ec_LRW(uint32 LogAdr, uint16 length, void *data, int timeout);

/* LRW followed by an FRMW of the reference clock's system time at station DCrs (8 bytes from and
 * back into *DCtime). When the frame's counter (that of the clock read) is above 0 and the LRW came
 * back intact: data and *DCtime are updated and the result is the LRW datagram's own working
 * counter. Otherwise the frame's counter (0, or negative when no reply came) and nothing is copied.
 * EC_ERR_LENGTH when length exceeds EC_MAXLRWDCDATA. */
int ec_LRWDC(uint32 LogAdr, uint16 length, void *data, uint16 DCrs, int64 *DCtime, int timeout);

/* Word access: the 16-bit value read, or 0 when no slave answered. */
uint16 ec_APRDw(uint16 ADP, uint16 ADO, int timeout);
uint16 ec_FPRDw(uint16 ADP, uint16 ADO, int timeout);

/* Word writes: the working counter, as above. */
int ec_APWRw(uint16 ADP, uint16 ADO, uint16 data, int timeout);
int ec_FPWRw(uint16 ADP, uint16 ADO, uint16 data, int timeout);

#endif
