// Old files named by the hash of their name, found again in the client folder.
#include <unordered_map>

#include "engine/EngineAbi.h"
#include "engine/format/PatchFormat.h"

namespace rtp {

std::string NameHashText(uint64_t hash, int bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text(2 * static_cast<size_t>(bytes), '0');
  for (size_t i = text.size(); i-- > 0; hash >>= 4) text[i] = kDigits[hash & 0xF];
  return text;
}

uint64_t NameHash(const std::string& name, int bytes) {
  uint64_t hash = 0xCBF29CE484222325ull;
  for (const char c : FoldName(name)) hash = (hash ^ static_cast<uint8_t>(c)) * 0x100000001B3ull;
  return LowBytes(hash, bytes);
}

bool HasNamesByHash(const Patch& patch) {
  for (const SourceFile& source : patch.sources)
    if (source.byHash) return true;
  return false;
}

bool ResolveNames(Patch* patch, const std::vector<std::string>& clientFiles, const SizeOfFile& sizeOf,
                  FormatError* error) {
  // Per hash length, hash -> source.
  std::unordered_map<uint64_t, size_t> wanted[kNameHashBytes + 1];
  for (size_t s = 0; s < patch->sources.size(); ++s) {
    const SourceFile& source = patch->sources[s];
    if (source.byHash) wanted[source.hashBytes][source.nameHash] = s;
  }
  std::vector<std::vector<const std::string*>> answering(patch->sources.size());
  for (const std::string& name : clientFiles) {
    const uint64_t hash = NameHash(name);
    for (int bytes = kShortestNameHash; bytes <= kNameHashBytes; ++bytes) {
      if (wanted[bytes].empty()) continue;
      const auto at = wanted[bytes].find(LowBytes(hash, bytes));
      // No builder names a file the patch cannot carry: such a name answering to a hash is chance.
      if (at != wanted[bytes].end() && IsValidName(name)) answering[at->second].push_back(&name);
    }
  }
  std::vector<const std::string*> found(patch->sources.size(), nullptr);
  for (size_t s = 0; s < patch->sources.size(); ++s) {
    const SourceFile& source = patch->sources[s];
    std::vector<const std::string*>& names = answering[s];
    if (names.size() > 1) {
      std::vector<const std::string*> sized;
      uint64_t size = 0;
      for (const std::string* name : names)
        if (sizeOf(*name, &size) && size == source.size) sized.push_back(name);
      if (sized.size() > 1)
        return FailFormat(error, kErrFileNotFound,
                          "two client files answer to one name: " + *sized[0] + ", " + *sized[1]);
      names.swap(sized);
    }
    if (source.byHash && names.empty())
      return FailFormat(error, kErrFileNotFound,
                        "an old file of " + std::to_string(source.size) + " bytes (name hash " +
                            NameHashText(source.nameHash, source.hashBytes) + ")");
    if (source.byHash) found[s] = names[0];
  }
  for (size_t s = 0; s < patch->sources.size(); ++s)
    if (found[s]) patch->sources[s].name = *found[s];
  for (TreeFile& file : patch->files)
    if (file.name.empty() && file.oldSource) file.name = patch->sources[file.oldSource - 1].name;
  return true;
}

}  // namespace rtp
