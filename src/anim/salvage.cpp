#include "anim/salvage.h"

#include <memory>

#include "anim/frame_chunk.h"

namespace kiv {
namespace {

constexpr std::int64_t kChunkHeaderSize = 8;  // "FRME" and the length

std::uint32_t Le32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

}  // namespace

// The strict load stopped at the first damaged frame. Walk the frames again,
// keeping every chunk that reads and checks: after a chunk whose tokens are
// bad the next chunk still lies where its length says, but after a chunk
// that cannot be read (cut file, bad tag) nothing further can be found.
bool SalvageFrames(std::FILE* stream, std::uint64_t fileSize, const AnimationHeader& header,
                   const AnimationError& error, const AnimationTables& tables,
                   std::vector<std::string>* damage) {
  if (error.part != AnimationError::Part::kFrame || stream == nullptr) return false;
  ReleaseFrames(tables);
  damage->assign(kMaxFrames, std::string());
  const std::uint32_t first = header.firstFrame;
  const std::uint32_t last = header.lastFrame;
  const bool legacy = IsLegacyVersion(header.version);
  const std::size_t framePicture =
      legacy ? kLegacyPictureSize : static_cast<std::size_t>(header.width) * static_cast<std::size_t>(header.height);

  // Skip the background chunk and the repeat flags, which the load checked.
  std::int64_t position = header.backgroundOffset;
  std::uint8_t head[kChunkHeaderSize] = {};
  bool lost = std::fseek(stream, static_cast<long>(position), SEEK_SET) != 0 ||
              std::fread(head, 1, sizeof head, stream) != sizeof head;
  position += kChunkHeaderSize + static_cast<std::int64_t>(Le32(head + 4));
  if (HasRepeatFlags(header.version)) position += 4 * static_cast<std::int64_t>(last - first + 1);

  std::string lostAt;
  for (std::uint32_t f = first; f <= last; ++f) {
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
    const std::int64_t left = static_cast<std::int64_t>(fileSize) - position;
    const bool read = std::fseek(stream, static_cast<long>(position), SEEK_SET) == 0 &&
                      chunk->ReadChunkChecked(stream, left > 0 ? static_cast<std::uint64_t>(left) : 0) ==
                          ChunkReadStatus::kOk;
    if (!read) {
      reason = strictReason.empty() ? "chunk cannot be read" : strictReason;
      lost = true;
      lostAt = "lies after the damage in frame " + std::to_string(f);
      continue;
    }
    position += kChunkHeaderSize + chunk->compressedSize;
    if (chunk->CheckTokens(framePicture).status != DecodeStatus::kOk ||
        (legacy && !chunk->ConvertLegacyFrame(tables.legacyScratch, kLegacyScratchSize))) {
      reason = strictReason.empty() ? "tokens do not fit the picture" : strictReason;
      continue;
    }
    tables.frames[f] = chunk.release();
  }
  return true;
}

}  // namespace kiv
