/*
 * SDO information: the list of a slave's objects, the description of one object and of its
 * entries. The lists are caller-owned records of fixed size; what a slave sends beyond them is
 * dropped, and a slave's lengths are held against the mailbox before a name or index is taken.
 */
#include "ethercatcoe.h"
#include "ethercatcoe_private.h"
#include "ethercatmain.h"

/* An object list comes in at most this many answers. */
#define ECX_ODLIST_MAXANSWERS 129
/* List type "all objects". */
#define ECX_ODLIST_ALL 1
/* Value information wanted with an entry description: access rights, object category, PDO
 * mapping. */
#define ECX_OE_VALUEINFO 7

/* Send one SDO information request whose data are `datalen` bytes already in *out. */
static int ecx_info_send(uint16 Slave, ec_mbxbuft *out, uint8 opcode, int datalen)
{
   ec_SDOservicet *req = (ec_SDOservicet *)out;
   ecx_coe_header(Slave, out, (uint16)(6 + datalen), (uint16)(ECT_COES_SDOINFO << 12));
   req->Opcode = opcode;
   req->Reserved = 0;
   req->Fragments = 0;
   return ec_mbxsendcounted(Slave, out, EC_TIMEOUT_SAFE);
}

/* 1 when *in is an SDO information answer with operation `opcode` of at least minlen header
 * length that stays within the mailbox; else 0. */
static int ecx_info_isanswer(uint16 Slave, const ec_mbxbuft *in, uint8 opcode, int minlen)
{
   const ec_SDOservicet *ans = (const ec_SDOservicet *)in;
   return ecx_coe_replyfits(Slave, in, minlen) && ecx_coe_service(in) == ECT_COES_SDOINFO &&
          (ans->Opcode & 0x7F) == opcode;
}

/* Push what an answer that was not the wanted one deserves. */
static void ecx_info_failed(uint16 Slave, uint16 Index, uint8 SubIdx, const ec_mbxbuft *in)
{
   const ec_SDOservicet *ans = (const ec_SDOservicet *)in;
   if (ecx_coe_service(in) == ECT_COES_SDOINFO && (ans->Opcode & 0x7F) == ECT_SDOINFO_ERROR)
   {
      ec_SDOinfoerror(Slave, Index, SubIdx, (int32)ans->ldata[0]);
      return;
   }
   ec_packeterror(Slave, Index, SubIdx, 1);
}

/* Wait for the answer to an SDO information request: the working counter (> 0: an answer with
 * operation `opcode` and at least minlen header length is in *in), 0 or less when nothing came, or
 * 0 after pushing the error an unwanted answer deserves. */
static int ecx_info_receive(uint16 Slave, ec_mbxbuft *in, uint8 opcode, int minlen, uint16 Index,
                            uint8 SubIdx)
{
   ec_clearmbx(in);
   int wkc = ec_mbxreceive(Slave, in, EC_TIMEOUT_MBXRX);
   if (wkc <= 0)
   {
      return wkc;
   }
   if (!ecx_info_isanswer(Slave, in, opcode, minlen))
   {
      ecx_info_failed(Slave, Index, SubIdx, in);
      return 0;
   }
   return wkc;
}

/* Copy a name of `len` bytes at `src`, cut to what the list holds, NUL-terminated. */
static void ecx_info_name(char *dst, const uint8 *src, int len)
{
   if (len > EC_MAXNAME)
   {
      len = EC_MAXNAME;
   }
   if (len < 0)
   {
      len = 0;
   }
   memcpy(dst, src, (size_t)len);
   dst[len] = 0;
}

/* Append the indexes of one list answer; 1 when some had to be dropped. */
static int ecx_odlist_append(ec_ODlistt *pODlist, const ec_mbxbuft *in, boolean first)
{
   const ec_SDOservicet *ans = (const ec_SDOservicet *)in;
   int ofs = first ? 14 : 12;
   int n = (ans->MbxHeader.length - (first ? 8 : 6)) / 2;
   int dropped = 0;
   for (int i = 0; i < n; i++)
   {
      if (pODlist->Entries >= EC_MAXODLIST)
      {
         dropped = 1;
         break;
      }
      pODlist->Index[pODlist->Entries++] = ec_get16((const uint8 *)in + ofs + 2 * i);
   }
   return dropped;
}

int ec_readODlist(uint16 Slave, ec_ODlistt *pODlist)
{
   if (pODlist == NULL || !ecx_coe_slaveok(Slave))
   {
      return 0;
   }
   pODlist->Slave = Slave;
   pODlist->Entries = 0;
   ec_mbxbuft MbxIn, MbxOut;
   const ec_SDOservicet *ans = (const ec_SDOservicet *)&MbxIn;
   ecx_coe_begin(Slave, &MbxIn, &MbxOut);
   ((ec_SDOservicet *)&MbxOut)->wdata[0] = ECX_ODLIST_ALL;
   int wkc = ecx_info_send(Slave, &MbxOut, ECT_GET_ODLIST_REQ, 2);
   if (wkc <= 0)
   {
      return wkc;
   }
   boolean first = TRUE;
   for (int answers = 0; answers < ECX_ODLIST_MAXANSWERS; answers++)
   {
      wkc = ecx_info_receive(Slave, &MbxIn, ECT_GET_ODLIST_RES, first ? 8 : 6, 0, 0);
      if (wkc <= 0)
      {
         return wkc;
      }
      if (ecx_odlist_append(pODlist, &MbxIn, first))
      {
         ec_SDOinfoerror(Slave, 0, 0, (int32)ECT_SDOINFO_LISTFULL);
      }
      first = FALSE;
      if (ans->Fragments == 0)
      {
         break;
      }
   }
   return wkc;
}

/* 1 when Item is a filled position of the list, else 0. */
static int ecx_info_itemok(uint16 Item, const ec_ODlistt *pODlist)
{
   return pODlist != NULL && Item < EC_MAXODLIST && Item < pODlist->Entries &&
          ecx_coe_slaveok(pODlist->Slave);
}

int ec_readODdescription(uint16 Item, ec_ODlistt *pODlist)
{
   if (!ecx_info_itemok(Item, pODlist))
   {
      return 0;
   }
   uint16 Slave = pODlist->Slave;
   uint16 index = pODlist->Index[Item];
   pODlist->DataType[Item] = 0;
   pODlist->ObjectCode[Item] = 0;
   pODlist->MaxSub[Item] = 0;
   pODlist->Name[Item][0] = 0;
   ec_mbxbuft MbxIn, MbxOut;
   const ec_SDOservicet *ans = (const ec_SDOservicet *)&MbxIn;
   ecx_coe_begin(Slave, &MbxIn, &MbxOut);
   ((ec_SDOservicet *)&MbxOut)->wdata[0] = index;
   int wkc = ecx_info_send(Slave, &MbxOut, ECT_GET_OD_REQ, 2);
   if (wkc > 0)
   {
      wkc = ecx_info_receive(Slave, &MbxIn, ECT_GET_OD_RES, 12, index, 0);
   }
   if (wkc <= 0)
   {
      return wkc;
   }
   const uint8 *raw = (const uint8 *)&MbxIn;
   pODlist->DataType[Item] = ec_get16(raw + 14);
   pODlist->MaxSub[Item] = raw[16];
   pODlist->ObjectCode[Item] = raw[17];
   ecx_info_name(pODlist->Name[Item], raw + 18, ans->MbxHeader.length - 12);
   return wkc;
}

int ec_readOEsingle(uint16 Item, uint8 SubI, ec_ODlistt *pODlist, ec_OElistt *pOElist)
{
   if (pOElist == NULL || !ecx_info_itemok(Item, pODlist))
   {
      return 0;
   }
   uint16 Slave = pODlist->Slave;
   uint16 index = pODlist->Index[Item];
   ec_mbxbuft MbxIn, MbxOut;
   const ec_SDOservicet *ans = (const ec_SDOservicet *)&MbxIn;
   ec_SDOservicet *req = (ec_SDOservicet *)&MbxOut;
   ecx_coe_begin(Slave, &MbxIn, &MbxOut);
   req->wdata[0] = index;
   req->bdata[2] = SubI;
   req->bdata[3] = ECX_OE_VALUEINFO;
   int wkc = ecx_info_send(Slave, &MbxOut, ECT_GET_OE_REQ, 4);
   if (wkc > 0)
   {
      wkc = ecx_info_receive(Slave, &MbxIn, ECT_GET_OE_RES, 16, index, SubI);
   }
   if (wkc <= 0)
   {
      return wkc;
   }
   const uint8 *raw = (const uint8 *)&MbxIn;
   pOElist->Entries++;
   pOElist->ValueInfo[SubI] = raw[15];
   pOElist->DataType[SubI] = ec_get16(raw + 16);
   pOElist->BitLength[SubI] = ec_get16(raw + 18);
   pOElist->ObjAccess[SubI] = ec_get16(raw + 20);
   ecx_info_name(pOElist->Name[SubI], raw + 22, ans->MbxHeader.length - 16);
   return wkc;
}

int ec_readOE(uint16 Item, ec_ODlistt *pODlist, ec_OElistt *pOElist)
{
   if (pOElist == NULL || !ecx_info_itemok(Item, pODlist))
   {
      return 0;
   }
   pOElist->Entries = 0;
   int wkc = 0;
   /* Two failures in a row end the walk: a slave that stopped answering would otherwise cost one
    * mailbox time-out per announced entry, up to 256 of them. A single failure is passed over. */
   int failed = 0;
   /* A 16-bit counter, so that a maximum sub-index of 255 ends the loop. */
   for (uint16 sub = 0; sub <= pODlist->MaxSub[Item] && failed < 2; sub++)
   {
      wkc = ec_readOEsingle(Item, (uint8)sub, pODlist, pOElist);
      failed = wkc > 0 ? 0 : failed + 1;
   }
   return wkc;
}
