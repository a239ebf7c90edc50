/* The LZMA SDK's encoder, compiled here with one more entry: encoding bytes that follow a dictionary the
   decoder already holds (the patch's old files), which the SDK's own entries cannot. Everything else is
   the SDK's, unchanged. */
#include "LzmaEnc.c"

#include "engine/codec/LzmaEncAfter.h"

SRes LzmaEnc_MemEncodeAfter(CLzmaEncHandle pp, Byte *dest, SizeT *destLen, const Byte *src, SizeT before,
                            SizeT srcLen, ISzAlloc *alloc, ISzAlloc *allocBig)
{
  CLzmaEnc *p = (CLzmaEnc *)pp;
  CSeqOutStreamBuf outStream;
  SRes res;
  outStream.funcTable.Write = MyWrite;
  outStream.data = dest;
  outStream.rem = *destLen;
  outStream.overflow = False;
  p->writeEndMark = 0;
  p->rc.outStream = &outStream.funcTable;
  res = LzmaEnc_MemPrepare(pp, src, before + srcLen, 0, alloc, allocBig);
  if (res == SZ_OK && before != 0)
  {
    /* The match finder sees the dictionary; the coder starts after it, at its position, so the first
       byte may be a match and the literal contexts take the dictionary's last byte. */
    p->matchFinder.Init(p->matchFinderObj);
    p->needInit = 0;
    p->matchFinder.Skip(p->matchFinderObj, (UInt32)before);
    p->nowPos64 = before;
  }
  if (res == SZ_OK)
    res = LzmaEnc_Encode2(p, NULL);
  *destLen -= outStream.rem;
  if (outStream.overflow)
    return SZ_ERROR_OUTPUT_EOF;
  return res;
}
