/*
 * A few axis commands beside the parameter work: start an axis's sine commutation once per bus
 * session, stop a motor, read the values a joint angle is derived from, record parameter reads in
 * the bring-up record and dump parameter ranges of axes to the file "zuvian_params.dump".
 *
 * None of them reports a failure: a lost command is silent. They use the command mailbox of
 * zuvian.h and the remembered sine starts of zuvianbringup.h (cleared by every bring-up).
 */
#ifndef ZUVIANMOTION_H
#define ZUVIANMOTION_H

#include "ethercattype.h"
#include "zuvianbringup.h"

#define ZUVIAN_DUMPFILE "zuvian_params.dump"

/* Parameters the motion commands use. */
#define MCP_PARAM_SINESTART 15
#define MCP_PARAM_ACTUALPOSITION 209
#define MCP_PARAM_GEARRATIO 211
#define MCP_PARAM_ENCODERTICKS 250

/* 1 when the axis's sine start was already sent in this session, else 0; a 0 answer also records
 * the axis, unless all five places are taken by other axes. Axis 0 matches a free place and so
 * counts as recorded. */
uint8 getAxisInitialization(uint8 axis);

/* Start the axis's sine commutation (parameter 15 set to 1) once per session. Not confirmed; when
 * the write mailbox is busy the command is dropped, yet the axis counts as started. */
void initSine(uint8 axis);
/* Both only start the sine commutation; `value` is not used. */
void moveForward(uint8 axis, uint32 value);
void moveBackward(uint8 axis, uint32 value);
/* Send the stop command once; its reply is taken and dropped. */
void motorStop(uint8 axis);

/* Parameter reads with retries (readSingleParameter): the value, or MCP_NOREPLY. */
uint32 getGearRatio(uint8 axis);
uint32 getEncoderTicksPerRound(uint8 axis);
uint32 getActualPosition(uint8 axis);
/* Reads gear ratio, encoder ticks and position, in that order; always not-a-number, since no
 * angle formula was ever settled. */
double getSensedAngle(uint8 axis);
/* Nothing for directions 0 and 1; a direction above 1 prints a complaint. */
void calibrateJoint(uint8 axis, uint8 direction);
/* Has no defined result. */
void getInverseMovementDirection(void);

/* One parameter read (no retries, no error-flag check), recorded in the first free entry of
 * eInf->params when there is one: the value or MCP_NOREPLY. eInf may be NULL: nothing recorded. */
uint32 readParameter(uint8 axis, uint8 type, EtherCat_Info *eInf);
/* The index of the first free entry (type 0) of the 90, or 0xFFFFFFFF when all are in use. */
uint32 getLastIndexofArray(ParamInfo *array);

/* Dump parameters 0..255 of axes axisoffset up to but not including lastaxis into
 * "zuvian_params.dump", one line per value that came. Always 0, also when the file cannot be
 * opened (the reads still run). */
int readallParameters(uint16 axisoffset, uint16 lastaxis, EtherCat_Info *eInf);
/* The same for the lenArr parameter numbers in `params` (low 8 bits of each). Always 0. */
int readParametersbyRange(uint16 axisoffset, uint16 lastaxis, int *params, int lenArr,
                          EtherCat_Info *eInf);

#endif
