/* The LZMA SDK's encoder, compiled here with two more entries: encoding bytes that follow a dictionary
   the decoder already holds (the patch's old files), which the SDK's own entries cannot, with its match
   finder reading that dictionary or told the matches there. Everything else is the SDK's, unchanged. */
#include "LzmaEnc.c"

#include "engine/codec/LzmaEncAfter.h"

/* The SDK's match finder, with the matches found beforehand of each stream byte in the dictionary. */
typedef struct
{
  IMatchFinder sdk;
  CMatchFinder *finder;
  const UInt16 *length;
  const UInt32 *from;
  SizeT unread; /* the dictionary's bytes it moves over unread, those it was told the matches in */
  SizeT before;
  UInt32 reach;    /* how far back the finder looks for the stream's own matches; 0: the dictionary */
  UInt32 longest;  /* the coder's fast bytes: the longest match a finder reports */
  UInt32 farthest; /* the largest distance the dictionary holds */
} CMatchedFinder;

static void Matched_Init(void *o) { ((CMatchedFinder *)o)->sdk.Init(((CMatchedFinder *)o)->finder); }
static Byte Matched_GetIndexByte(void *o, Int32 index)
{
  return ((CMatchedFinder *)o)->sdk.GetIndexByte(((CMatchedFinder *)o)->finder, index);
}
static UInt32 Matched_GetNumAvailableBytes(void *o)
{
  return ((CMatchedFinder *)o)->sdk.GetNumAvailableBytes(((CMatchedFinder *)o)->finder);
}
static const Byte *Matched_GetPointerToCurrentPos(void *o)
{
  return ((CMatchedFinder *)o)->sdk.GetPointerToCurrentPos(((CMatchedFinder *)o)->finder);
}
static void Matched_Skip(void *o, UInt32 num)
{
  ((CMatchedFinder *)o)->sdk.Skip(((CMatchedFinder *)o)->finder, num);
}

/* The SDK's matches in the stream, then the one in the dictionary where it is longer than all of them
   (a pair is a length and the distance less one, the lengths rising). */
static UInt32 Matched_GetMatches(void *o, UInt32 *distances)
{
  CMatchedFinder *m = (CMatchedFinder *)o;
  const SizeT at = (SizeT)(m->finder->buffer - m->finder->bufferBase);
  UInt32 most = m->sdk.GetNumAvailableBytes(m->finder);
  UInt32 pairs = m->sdk.GetMatches(m->finder, distances);
  if (at >= m->before && m->length[at - m->before] != 0)
  {
    const Byte *cur = m->finder->bufferBase + at;
    const SizeT from = m->from[at - m->before];
    const SizeT distance = from < at ? at - from : 0;
    UInt32 len = 0;
    if (most > m->longest)
      most = m->longest;
    if (most > m->length[at - m->before])
      most = m->length[at - m->before];
    /* Checked, not trusted: the stream stays exact whatever it was told. */
    if (distance != 0)
      while (len < most && cur[len] == m->finder->bufferBase[from + len])
        len++;
    if (len >= 4 && distance < m->farthest && (pairs == 0 || len > distances[pairs - 2]))
    {
      distances[pairs] = len;
      distances[pairs + 1] = (UInt32)(distance - 1);
      pairs += 2;
    }
  }
  return pairs;
}

/* Moves the match finder over `num` bytes without reading them: only its positions move, but at its
   limits, where the SDK's own step checks them (and reads that one byte). */
static void SkipUnread(CMatchedFinder *m, UInt32 num)
{
  CMatchFinder *f = m->finder;
  while (num != 0)
  {
    UInt32 step = f->posLimit - f->pos;
    if (step > 1)
    {
      step = step - 1 < num ? step - 1 : num;
      f->pos += step;
      f->buffer += step;
      f->cyclicBufferPos += step;
      num -= step;
    }
    else
    {
      m->sdk.Skip(f, 1);
      num--;
    }
  }
}

static SRes EncodeAfter(CLzmaEncHandle pp, Byte *dest, SizeT *destLen, const Byte *src, SizeT before,
                        SizeT srcLen, CMatchedFinder *matched, ISzAlloc *alloc, ISzAlloc *allocBig)
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
  if (matched)
  {
    /* The match finder holds what it reads only (its tables in proportion); the distances' prices were
       set for the whole dictionary. */
    const SizeT read = before - matched->unread + srcLen;
    matched->farthest = p->dictSize;
    if (p->dictSize > read + 1)
      p->dictSize = read < ((UInt32)1 << 16) ? ((UInt32)1 << 16) : (UInt32)read + 1;
    if (matched->reach != 0 && p->dictSize > matched->reach)
      p->dictSize = matched->reach;
  }
  res = LzmaEnc_MemPrepare(pp, src, before + srcLen, 0, alloc, allocBig);
  if (res == SZ_OK && matched)
  {
    UInt32 slots = 0;
    while (slots < (UInt32)kDicLogSizeMaxCompress && matched->farthest > ((UInt32)1 << slots))
      slots++;
    p->dictSize = matched->farthest;
    p->distTableSize = slots * 2;
    LzmaEnc_InitPrices(p);
    matched->sdk = p->matchFinder;
    matched->finder = &p->matchFinderBase;
    matched->longest = p->numFastBytes;
    p->matchFinder.Init = Matched_Init;
    p->matchFinder.GetIndexByte = Matched_GetIndexByte;
    p->matchFinder.GetNumAvailableBytes = Matched_GetNumAvailableBytes;
    p->matchFinder.GetPointerToCurrentPos = Matched_GetPointerToCurrentPos;
    p->matchFinder.GetMatches = Matched_GetMatches;
    p->matchFinder.Skip = Matched_Skip;
    p->matchFinderObj = matched;
  }
  if (res == SZ_OK && before != 0)
  {
    const SizeT unread = matched ? matched->unread : 0;
    /* The match finder reads the dictionary (or, told the matches there, moves over it unread); the
       coder starts after it, at its position, so the first byte may be a match and the literal
       contexts take the dictionary's last byte. */
    p->matchFinder.Init(p->matchFinderObj);
    p->needInit = 0;
    if (unread != 0)
      SkipUnread(matched, (UInt32)unread);
    if (before != unread)
      p->matchFinder.Skip(p->matchFinderObj, (UInt32)(before - unread));
    p->nowPos64 = before;
  }
  if (res == SZ_OK)
    res = LzmaEnc_Encode2(p, NULL);
  *destLen -= outStream.rem;
  if (outStream.overflow)
    return SZ_ERROR_OUTPUT_EOF;
  return res;
}

SRes LzmaEnc_MemEncodeAfter(CLzmaEncHandle pp, Byte *dest, SizeT *destLen, const Byte *src, SizeT before,
                            SizeT srcLen, ISzAlloc *alloc, ISzAlloc *allocBig)
{
  return EncodeAfter(pp, dest, destLen, src, before, srcLen, NULL, alloc, allocBig);
}

SRes LzmaEnc_MemEncodeAfterMatched(CLzmaEncHandle pp, Byte *dest, SizeT *destLen, const Byte *src,
                                   SizeT unread, SizeT before, SizeT srcLen, const UInt16 *length,
                                   const UInt32 *from, UInt32 reach, ISzAlloc *alloc, ISzAlloc *allocBig)
{
  CMatchedFinder matched;
  if (unread > before)
    return SZ_ERROR_PARAM;
  matched.length = length;
  matched.from = from;
  matched.unread = unread;
  matched.before = before;
  matched.reach = reach;
  return EncodeAfter(pp, dest, destLen, src, before, srcLen, &matched, alloc, allocBig);
}
