// The LZMA codec's encoder (the LZMA SDK's), linked into the builder only.
#include "engine/codec/Lzma.h"
#include "engine/codec/LzmaMemory.h"

extern "C" {
#include <LzmaEnc.h>
}

namespace rtp {

namespace {

constexpr size_t kPropsSize = LZMA_PROPS_SIZE;

// Literal context bits, literal position bits, position bits: text likes the default, code and the
// difference streams of executables the others.
struct LiteralSetting {
  int lc, lp, pb;
};
constexpr LiteralSetting kSettings[] = {{0, 0, 0}, {3, 0, 2}, {1, 0, 0}, {2, 0, 0}, {0, 1, 1}, {4, 0, 0}};
// Large streams take the first setting only: another one gains least there (0.07 % on the streams of an
// 11 MB executable) and would take as long again as the first.
constexpr size_t kLargeStream = 1u << 20;

}  // namespace

size_t LzmaSettingsFor(uint64_t size) {
  return size >= kLargeStream ? 1 : sizeof kSettings / sizeof kSettings[0];
}

bool EncodeLzma(ByteView in, size_t settingNumber, std::vector<uint8_t>* out) {
  const LiteralSetting& setting = kSettings[settingNumber];
  const uint32_t dictionary = DictionaryFor(in.size);
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = 9;
  props.dictSize = dictionary;
  props.lc = setting.lc;
  props.lp = setting.lp;
  props.pb = setting.pb;
  // Long fast bytes find the long runs of difference streams; large streams take shorter ones for time.
  props.fb = in.size >= kLargeStream ? 128 : 273;
  props.numThreads = 1;
  props.writeEndMark = 0;
  const size_t capacity = in.size + in.size / 2 + 1024;
  out->assign(kPropsSize + capacity, 0);
  SizeT destLen = capacity;
  SizeT propsSize = kPropsSize;
  const SRes result = LzmaEncode(out->data() + kPropsSize, &destLen, in.data, in.size, &props, out->data(),
                                 &propsSize, 0, nullptr, LzmaHeap(), LzmaHeap());
  // Kept: the property byte, then the data after its leading zero (the dictionary size is implied).
  if (result != SZ_OK || propsSize != kPropsSize || destLen == 0 || (*out)[kPropsSize] != 0) return false;
  out->resize(kPropsSize + destLen);
  out->erase(out->begin() + 1, out->begin() + kPropsSize + 1);
  return true;
}

}  // namespace rtp
