// One run-length compressed 8-bit picture ("FRME" chunk) and its codec.
//
// Token stream: a header byte H >= 0x80 is a literal of H - 0x80 bytes that
// follow; H < 0x80 is a run H, B, V of (H * 256 + B) bytes of value V.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "resources/byte_reader.h"

namespace kiv {

// A chunk is the tag "FRME", a 32-bit payload length and the payload.
constexpr char kChunkTag[4] = {'F', 'R', 'M', 'E'};
constexpr std::int64_t kChunkHeaderSize = 8;

constexpr std::int32_t kLegacyWidth = 768;
constexpr std::int32_t kLegacyHeight = 576;
constexpr std::int32_t kFrameWidthDefault = 720;
constexpr std::int32_t kFrameHeightDefault = 576;
constexpr std::size_t kLegacyPictureSize = 768u * 576u;  // 442368

// What a bounded decode found.
enum class DecodeStatus {
  kOk,            // every token expanded within the destination
  kOverrun,       // a token would write past the destination; stopped before it
  kTruncated,     // the last token runs past the payload; stopped before it
};

// What reading one chunk found.
enum class ChunkReadStatus {
  kOk,
  kNoStream,
  kShortTag,       // the stream ends inside the tag
  kBadTag,         // the tag is not "FRME"
  kShortLength,    // the stream ends inside the length
  kTooLong,        // the length runs past the end of the stream
  kShortPayload,   // fewer payload bytes arrived than the length says
  kNoMemory,
};

struct DecodeResult {
  DecodeStatus status;
  std::size_t written;       // bytes the tokens expanded to (counted also past a clip)
  std::size_t tokenOffset;   // payload offset of the token that stopped the decode
};

// fread that goes on after a read cut short by a signal (EINTR): a signal
// caught while loading must not read as a truncated file. Fewer than `size`
// bytes only at the end of the stream or on a real read error.
std::size_t ReadFully(void* destination, std::size_t size, std::FILE* stream);

class FrameChunk {
 public:
  FrameChunk() = default;
  ~FrameChunk();
  FrameChunk(const FrameChunk&) = delete;
  FrameChunk& operator=(const FrameChunk&) = delete;

  // Reads one chunk at the stream's position. False for no stream, a short or
  // wrong tag, a short length, a length beyond what the stream has left, or a
  // short payload (the chunk then keeps the partial payload).
  bool ReadChunk(std::FILE* stream);
  // The same, given how many bytes the stream has left from its position. A
  // length beyond that is refused before anything is allocated, except that
  // the chunk then keeps what the stream still holds as a partial payload
  // (compressedSize = the bytes held).
  bool ReadChunk(std::FILE* stream, std::uint64_t available);
  // declaredLength, when given, receives the length field once it was read.
  ChunkReadStatus ReadChunkChecked(std::FILE* stream, std::uint64_t available,
                                   std::uint32_t* declaredLength = nullptr);
  // The same from bytes in memory: reads one chunk at the reader's position;
  // a length beyond what is left is kTooLong. The payload is copied, or with
  // `borrow` points into the reader's bytes, which must then outlive the
  // chunk (the chunk never frees nor writes them).
  ChunkReadStatus ReadChunkChecked(ByteReader& reader, std::uint32_t* declaredLength = nullptr,
                                   bool borrow = false);
  // Expands the payload into destination, which holds `capacity` bytes. Never
  // writes past capacity nor reads past the payload; returns false when the
  // chunk is corrupt (it then stops at the bad token).
  bool Decode(std::uint8_t* destination, std::size_t capacity);
  DecodeResult DecodeChecked(std::uint8_t* destination, std::size_t capacity) const;
  // Checks the tokens against a buffer of `capacity` bytes, as DecodeChecked
  // does, but writes only the first `picture` bytes of the expansion:
  // destination needs room for min(picture, capacity) bytes only. A picture
  // may legally expand past its own size as long as it stays within the
  // buffer it is decoded into; the excess is never shown.
  DecodeResult DecodeClipped(std::uint8_t* destination, std::size_t picture,
                             std::size_t capacity) const;
  // Walks the tokens without writing: what DecodeChecked would report for a
  // destination of `capacity` bytes.
  DecodeResult CheckTokens(std::size_t capacity) const;
  // False only for a negative length (the chunk is then left empty).
  bool Encode(const std::uint8_t* source, std::int32_t length);
  // Re-encodes a 768 x 576 picture as its middle 720 columns. False when the
  // scratch holds fewer than kLegacyPictureSize bytes or the chunk expands
  // past the scratch or its payload (the payload is then left as it was).
  bool ConvertLegacyFrame(std::uint8_t* scratch, std::size_t scratchCapacity);
  // Frees the payload and empties the chunk.
  void Clear();

  std::uint8_t* payload = nullptr;
  std::int32_t compressedSize = 0;

 private:
  bool borrowed_ = false;  // payload points into bytes that the chunk does not own
};

}  // namespace kiv
