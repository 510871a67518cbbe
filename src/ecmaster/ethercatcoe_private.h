/*
 * Pieces shared by the CoE files (SDO transfer, PDO read-out, SDO information): checking a slave
 * number, opening an exchange, stamping the mailbox header and judging whether a reply stays
 * inside the bytes the mailbox really carried. Not part of the master's public set.
 */
#ifndef ETHERCATCOE_PRIVATE_H
#define ETHERCATCOE_PRIVATE_H

#include "ethercatcoe.h"

/* Bytes from the start of an SDO message to the data behind its 32-bit size word. */
#define ECX_SDO_SIZEDDATAOFS 16
/* Bytes of mailbox header plus CANOpen and Command, where segment data begin. */
#define ECX_SDO_SEGDATAOFS 9
/* MbxHeader.length of a message that carries the CoE header, command, index and sub-index. */
#define ECX_SDO_HEADERLEN 10

/* 1 when slave names an entry of the slave table in use, else 0. */
int ecx_coe_slaveok(uint16 slave);

/* Drain whatever waits in the slave's send mailbox and clear both buffers. */
void ecx_coe_begin(uint16 slave, ec_mbxbuft *in, ec_mbxbuft *out);

/* Fill the mailbox header of an outgoing CoE message and take the slave's next counter. */
void ecx_coe_header(uint16 slave, ec_mbxbuft *out, uint16 length, uint16 canopen);

/* Send *out, then wait up to `timeout` for the reply in *in: the working counter of the receive
 * (> 0: a message is in *in), or that of the send when the send failed (0 or less). */
int ecx_coe_exchange(uint16 slave, ec_mbxbuft *out, ec_mbxbuft *in, int timeout);

/* 1 when the reply is CoE, its header length is at least minlen and the whole message lies within
 * what the slave's read mailbox (and the buffer) hold, else 0. */
int ecx_coe_replyfits(uint16 slave, const ec_mbxbuft *in, int minlen);

/* CoE service of a reply (bits 12..15 of CANOpen), or -1 when it is not CoE. */
int ecx_coe_service(const ec_mbxbuft *in);

/* Push the error a reply that was not the wanted answer deserves: the slave's abort code for an
 * SDO abort, otherwise packet error 1. */
void ecx_coe_unexpected(uint16 slave, uint16 index, uint8 subidx, const ec_mbxbuft *in);

#endif
