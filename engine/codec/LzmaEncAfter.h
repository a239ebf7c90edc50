#pragma once
/* Encodes src[before, before + srcLen) as raw LZMA (no end mark) for a decoder whose dictionary already
   holds src[0, before) and whose position is `before`; the properties as LzmaEnc_SetProps set them. */
#include <LzmaEnc.h>

#ifdef __cplusplus
extern "C" {
#endif

SRes LzmaEnc_MemEncodeAfter(CLzmaEncHandle pp, Byte* dest, SizeT* destLen, const Byte* src, SizeT before,
                            SizeT srcLen, ISzAlloc* alloc, ISzAlloc* allocBig);

/* As LzmaEnc_MemEncodeAfter, but the match finder does not read src[0, unread) (unread <= before): for
   each byte i of src[before, before + srcLen), length[i] (0: none) and from[i] tell its longest match
   there, found beforehand. The match finder looks for the stream's own matches at most `reach` bytes
   back (0: as far as the dictionary). */
SRes LzmaEnc_MemEncodeAfterMatched(CLzmaEncHandle pp, Byte* dest, SizeT* destLen, const Byte* src,
                                   SizeT unread, SizeT before, SizeT srcLen, const UInt16* length,
                                   const UInt32* from, UInt32 reach, ISzAlloc* alloc, ISzAlloc* allocBig);

#ifdef __cplusplus
}
#endif
