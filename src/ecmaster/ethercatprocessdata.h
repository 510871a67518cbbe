/*
 * Cyclic process data exchange: one cycle sends a group's process image as logical datagrams and
 * collects the answers back into the image.
 *
 * The send pushes every frame it puts on the wire onto the index stack `ec_idxstack` together
 * with the place in the image its data belong to; the receive takes them back in the same order,
 * copies the returned data and adds up the working counters. The caller compares that sum with
 * the group's `expectedWKC`.
 *
 * The image is caller-owned memory whose size the master is told at mapping time
 * (`ec_groupimagesize`). A send refuses a group whose image does not fit there, so no cycle ever
 * reads or writes past the caller's buffer.
 */
#ifndef ETHERCATPROCESSDATA_H
#define ETHERCATPROCESSDATA_H

#include "ethercattype.h"

/* Most data bytes one process data frame carries: room is left for the clock datagram that the
 * first frame of a cycle may carry as well. */
#define EC_MAXLRWDATA 1466

/* Bytes of the caller's image each group may use, set by the mapping (0 = nothing mapped). */
extern uint32 ec_groupimagesize[EC_MAXGROUP];

/* Record one frame in flight: where its `length` bytes go back in the image. Dropped when 16
 * frames are already recorded. */
void ec_pushindex(uint8 idx, void *data, uint16 length);

/* Position of the next recorded frame not yet taken back (and advance), or -1 when none is left. */
int ec_pullindex(void);

/* Send the group's image: 1 when frames went out, 0 when the image is empty, the group does not
 * exist, or the image does not fit the buffer it was mapped into (nothing is sent then). */
int ec_send_processdata_group(uint8 group);

/* Wait up to `timeout` us for each frame sent since the index stack was reset, copy its data back
 * into the image: the sum of the working counters (0 when nothing was pending). */
int ec_receive_processdata_group(uint8 group, int timeout);

/* The same for group 0. */
int ec_send_processdata(void);
int ec_receive_processdata(int timeout);

#endif
