#include "anim/salvage.h"

#include <memory>

#include "anim/frame_chunk.h"

namespace kiv {

// The strict load stopped at the first damaged frame. Walk the frames again,
// keeping every chunk that reads and checks: after a chunk whose tokens are
// bad the next chunk still lies where its length says, but after a chunk
// that cannot be read (cut file, bad tag) nothing further can be found.
bool SalvageFrames(ByteSpan file, const AnimationHeader& header, const AnimationError& error,
                   const AnimationTables& tables, std::vector<std::string>* damage) {
  if (error.part != AnimationError::Part::kFrame) return false;
  ReleaseFrames(tables);
  damage->assign(kMaxFrames, std::string());
  const bool legacy = IsLegacyVersion(header.version);
  // The buffer each frame is expanded into bounds it, as in a strict load.
  const std::size_t frameBound = legacy ? kLegacyScratchSize : kFrameBufferSize;

  // The background chunk and the repeat flags were checked by the load.
  ByteReader reader(file);
  const std::int64_t framesOffset = FramesOffsetOf(file, header);
  // Frames that would start past the end are each reported as unreadable.
  if (framesOffset < 0 || !reader.Seek(static_cast<std::size_t>(framesOffset))) reader.Seek(file.size());
  bool lost = false;

  std::string lostAt;
  for (std::uint32_t f = header.firstFrame; f <= header.lastFrame; ++f) {
    std::string& reason = (*damage)[f];
    if (tables.repeatFlags[f] != 0) {
      tables.frames[f] = tables.frames[f - 1];
      if (tables.frames[f] == nullptr) reason = "repeats damaged frame " + std::to_string(f - 1);
      continue;
    }
    const std::string strictReason = f == error.frame ? error.what : std::string();
    if (lost) {
      reason = lostAt;
      continue;
    }
    auto chunk = std::make_unique<FrameChunk>();
    if (chunk->ReadChunkChecked(reader) != ChunkReadStatus::kOk) {
      reason = strictReason.empty() ? "chunk cannot be read" : strictReason;
      lost = true;
      lostAt = "lies after the damage in frame " + std::to_string(f);
      continue;
    }
    if (chunk->CheckTokens(frameBound).status != DecodeStatus::kOk ||
        (legacy && !chunk->ConvertLegacyFrame(tables.legacyScratch, kLegacyScratchSize))) {
      reason = strictReason.empty() ? "tokens do not fit the picture" : strictReason;
      continue;
    }
    tables.frames[f] = chunk.release();
  }
  return true;
}

bool SalvageFrames(std::FILE* stream, std::uint64_t fileSize, const AnimationHeader& header,
                   const AnimationError& error, const AnimationTables& tables,
                   std::vector<std::string>* damage) {
  if (error.part != AnimationError::Part::kFrame || stream == nullptr) return false;
  std::vector<std::uint8_t> file(fileSize);
  if (std::fseek(stream, 0, SEEK_SET) != 0) return false;
  file.resize(ReadFully(file.data(), file.size(), stream));
  return SalvageFrames(file, header, error, tables, damage);
}

}  // namespace kiv
