// Salvage: after a load stopped at a damaged frame, keep every frame whose
// chunk still reads and checks, and say why each of the others was lost.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "anim/animation_file.h"

namespace kiv {

// file: the bytes the load read; header: as the load read it; error: where
// the load stopped. The frames of tables are released and read again. Fills damage with one entry per frame
// number (empty for a frame kept). False, with nothing changed, when the
// damage is not in a frame: then no frame's place in the file is known.
bool SalvageFrames(ByteSpan file, const AnimationHeader& header, const AnimationError& error,
                   const AnimationTables& tables, std::vector<std::string>* damage);
// The same from a stream (read from its start); fileSize its size in bytes.
bool SalvageFrames(std::FILE* stream, std::uint64_t fileSize, const AnimationHeader& header,
                   const AnimationError& error, const AnimationTables& tables,
                   std::vector<std::string>* damage);

}  // namespace kiv
