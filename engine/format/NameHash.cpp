// Old files named by the hash of their name, found again in the client folder.
#include <unordered_map>

#include "engine/EngineAbi.h"
#include "engine/format/PatchFormat.h"

namespace rtp {

std::string NameHashText(uint64_t hash) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text(2 * kNameHashBytes, '0');
  for (size_t i = text.size(); i-- > 0; hash >>= 4) text[i] = kDigits[hash & 0xF];
  return text;
}

uint64_t NameHash(const std::string& name) {
  uint64_t hash = 0xCBF29CE484222325ull;
  for (const char c : FoldName(name)) hash = (hash ^ static_cast<uint8_t>(c)) * 0x100000001B3ull;
  return hash & ((uint64_t{1} << (8 * kNameHashBytes)) - 1);
}

bool HasNamesByHash(const Patch& patch) {
  for (const SourceFile& source : patch.sources)
    if (source.byHash) return true;
  return false;
}

bool ResolveNames(Patch* patch, const std::vector<std::string>& clientFiles, const SizeOfFile& sizeOf,
                  FormatError* error) {
  std::unordered_map<uint64_t, size_t> wanted;  // hash -> source
  for (size_t s = 0; s < patch->sources.size(); ++s)
    if (patch->sources[s].byHash) wanted[patch->sources[s].nameHash] = s;
  std::vector<std::vector<const std::string*>> answering(patch->sources.size());
  for (const std::string& name : clientFiles) {
    const auto at = wanted.find(NameHash(name));
    // No builder names a file the patch cannot carry: such a name answering to a hash is chance.
    if (at != wanted.end() && IsValidName(name)) answering[at->second].push_back(&name);
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
                            NameHashText(source.nameHash) + ")");
    if (source.byHash) found[s] = names[0];
  }
  for (size_t s = 0; s < patch->sources.size(); ++s)
    if (found[s]) patch->sources[s].name = *found[s];
  for (TreeFile& file : patch->files)
    if (file.name.empty() && file.oldSource) file.name = patch->sources[file.oldSource - 1].name;
  return true;
}

}  // namespace rtp
