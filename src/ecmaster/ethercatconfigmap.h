/*
 * Process data mapping: works out every slave's process data sizes, lays them out in the caller's
 * process image, programs the process data SyncManagers and FMMUs so that the slaves' data appear
 * at their place in the logical address space, and asks every slave for SAFE-OP.
 *
 * Layout of a group's image: all outputs in slave order, then all inputs in slave order. Slaves
 * with 8 bits or more in a direction take whole bytes from a byte boundary; slaves with 1 to 7 bits
 * are packed bit by bit. The image is cut into segments of at most EC_MAXLRWDATA bytes, one frame
 * each.
 *
 * The caller's image has a size. The plain entry points take the system's convention of an
 * EC_IOMAPSIZE-byte image; ec_config_map_group_size takes any size. A layout that does not fit is
 * refused: the result is 0, no slave or group points into the image, and no cycle sends it.
 *
 * A slave has four FMMUs. A slave whose SyncManagers would need a fifth gets none beyond the
 * fourth: the data of the SyncManagers left over are not mapped (they take no image space and add
 * nothing to expectedWKC), and a slave that checks its configuration refuses SAFE-OP.
 */
#ifndef ETHERCATCONFIGMAP_H
#define ETHERCATCONFIGMAP_H

#include "ethercattype.h"

/* Size of the process image every caller of this system hands to the mapping. */
#define EC_IOMAPSIZE 4096

/* Enumerate (ec_config_init) and, when slaves were found, map group 0 into the EC_IOMAPSIZE-byte
 * image `pIOmap`: the number of slaves found, or 0 or less when none answered, EC_SIIFAILED when
 * a slave's SII could not be read. The mapped size is not returned. */
int ec_config(uint8 usetable, void *pIOmap);

/* Map group 0 into an EC_IOMAPSIZE-byte image: the image size in bytes, 0 when there is nothing
 * to map or it does not fit. */
int ec_config_map(void *pIOmap);

/* Map `group` into an EC_IOMAPSIZE-byte image: as ec_config_map_group_size. */
int ec_config_map_group(void *pIOmap, uint8 group);

/* Map `group` into the `iomapsize`-byte image `pIOmap`: the size of the group's image in bytes
 * (outputs plus inputs), or 0 when there are no slaves, `group` is 8 or more, `pIOmap` is NULL,
 * the image would not fit in `iomapsize` bytes, or an SII read of one of its slaves failed
 * (esifailed). The slaves are programmed in every case but the first three, and asked for SAFE-OP
 * unless an SII read failed. */
int ec_config_map_group_size(void *pIOmap, uint32 iomapsize, uint8 group);

#endif
