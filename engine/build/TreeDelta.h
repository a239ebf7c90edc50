#pragma once
// The builder's stream half: turns a planned patch into the directory and the compressed streams.
#include <string>
#include <vector>

#include "engine/build/Builder.h"
#include "engine/format/PatchFormat.h"

namespace rtp {

// Fills `patch` (sources, files, notices, stream entries), `streams` (as stored) and `offered` (the
// decoded bytes of the streams the directory may hold, see WritePatch). False with a message when a file
// cannot be read or memory runs out.
bool WriteTreeStreams(FileSystem& oldTree, FileSystem& newTree, const BuildPlan& plan, Patch* patch,
                      std::vector<uint8_t> (&streams)[kStreamCount],
                      std::vector<uint8_t> (&offered)[kStreamCount], BuildSummary* counts,
                      std::string* error);

}  // namespace rtp
