#include "anim/frame_chunk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace kiv {
namespace {

constexpr std::int32_t kMaxLiteral = 123;     // the encoder's literal limit
constexpr std::int32_t kMaxRun = 32760;       // the encoder's run limit (0x7FF8)
constexpr std::size_t kUnknownReadStep = 1u << 20;

// Bytes from the stream's position to its end, or -1 when it cannot seek.
std::int64_t BytesLeft(std::FILE* stream) {
  const long here = std::ftell(stream);
  if (here < 0 || std::fseek(stream, 0, SEEK_END) != 0) return -1;
  const long end = std::ftell(stream);
  if (std::fseek(stream, here, SEEK_SET) != 0 || end < here) return -1;
  return end - here;
}

// Exact copies and fills: short tokens are most tokens of a dithered picture,
// and a library call per token would cost more than the bytes it moves. Two
// overlapping stores cover any length within a size class, and nothing is
// written outside [destination, destination + count).
inline void CopyBytes(std::uint8_t* destination, const std::uint8_t* source, std::size_t count) {
  if (count >= 16) {
    // At most 127 bytes: 16-byte blocks, the last one overlapping the one
    // before it, beat a library call.
    std::size_t i = 0;
    for (; i + 16 < count; i += 16) std::memcpy(destination + i, source + i, 16);
    std::memcpy(destination + count - 16, source + count - 16, 16);
  } else if (count >= 8) {
    std::uint64_t head, tail;
    std::memcpy(&head, source, 8);
    std::memcpy(&tail, source + count - 8, 8);
    std::memcpy(destination, &head, 8);
    std::memcpy(destination + count - 8, &tail, 8);
  } else if (count >= 4) {
    std::uint32_t head, tail;
    std::memcpy(&head, source, 4);
    std::memcpy(&tail, source + count - 4, 4);
    std::memcpy(destination, &head, 4);
    std::memcpy(destination + count - 4, &tail, 4);
  } else if (count >= 2) {
    std::uint16_t head, tail;
    std::memcpy(&head, source, 2);
    std::memcpy(&tail, source + count - 2, 2);
    std::memcpy(destination, &head, 2);
    std::memcpy(destination + count - 2, &tail, 2);
  } else if (count == 1) {
    *destination = *source;
  }
}

inline void FillBytes(std::uint8_t* destination, std::uint8_t value, std::size_t count) {
  if (count >= 16) {
    if (count > 256) {
      std::memset(destination, value, count);
      return;
    }
    // Short enough that a library call would cost more than the stores:
    // 16-byte blocks, the last one overlapping the one before it.
    const std::uint64_t half = value * 0x0101010101010101ull;
    const std::uint64_t block[2] = {half, half};
    for (std::size_t i = 0; i + 16 < count; i += 16) std::memcpy(destination + i, block, 16);
    std::memcpy(destination + count - 16, block, 16);
  } else if (count >= 8) {
    const std::uint64_t v = value * 0x0101010101010101ull;
    std::memcpy(destination, &v, 8);
    std::memcpy(destination + count - 8, &v, 8);
  } else if (count >= 4) {
    const std::uint32_t v = value * 0x01010101u;
    std::memcpy(destination, &v, 4);
    std::memcpy(destination + count - 4, &v, 4);
  } else if (count >= 2) {
    const auto v = static_cast<std::uint16_t>(value * 0x0101u);
    std::memcpy(destination, &v, 2);
    std::memcpy(destination + count - 2, &v, 2);
  } else if (count == 1) {
    *destination = value;
  }
}

// The one token loop behind DecodeClipped and CheckTokens. Every token is
// checked once against what is left of the payload and of the `capacity`
// bytes it may expand into, then expanded with one bulk copy or fill of the
// part that lies below `clip`; a token that does not fit stops the loop
// before anything of it is written.
template <bool kWrite>
DecodeResult Expand(const std::uint8_t* payload, std::size_t size, std::uint8_t* destination,
                    std::size_t capacity, std::size_t clip) {
  std::size_t q = 0;
  std::size_t written = 0;
  while (q < size) {
    const std::size_t header = payload[q];
    const std::size_t left = size - q;
    if (header >= 0x80) {
      const std::size_t count = header - 0x80;
      if (count >= left) return {DecodeStatus::kTruncated, written, q};
      if (count > capacity - written) return {DecodeStatus::kOverrun, written, q};
      if constexpr (kWrite) {
        if (written < clip) CopyBytes(destination + written, payload + q + 1, std::min(count, clip - written));
      }
      written += count;
      q += 1 + count;
    } else {
      if (left < 3) return {DecodeStatus::kTruncated, written, q};
      const std::size_t count = header << 8 | payload[q + 1];
      if (count > capacity - written) return {DecodeStatus::kOverrun, written, q};
      if constexpr (kWrite) {
        if (written < clip) FillBytes(destination + written, payload[q + 2], std::min(count, clip - written));
      }
      written += count;
      q += 3;
    }
  }
  return {DecodeStatus::kOk, written, q};
}

}  // namespace

std::size_t ReadFully(void* destination, std::size_t size, std::FILE* stream) {
  auto* bytes = static_cast<std::uint8_t*>(destination);
  std::size_t got = 0;
  while (got < size) {
    errno = 0;
    got += std::fread(bytes + got, 1, size - got, stream);
    if (got == size || !std::ferror(stream) || errno != EINTR) break;
    std::clearerr(stream);  // nothing was lost: read again where it stopped
  }
  return got;
}

FrameChunk::~FrameChunk() { Clear(); }

void FrameChunk::Clear() {
  if (!borrowed_) delete[] payload;
  borrowed_ = false;
  payload = nullptr;
  compressedSize = 0;
}

bool FrameChunk::ReadChunk(std::FILE* stream) {
  if (stream == nullptr) return false;
  const std::int64_t left = BytesLeft(stream);
  return ReadChunk(stream, left < 0 ? UINT64_MAX : static_cast<std::uint64_t>(left));
}

bool FrameChunk::ReadChunk(std::FILE* stream, std::uint64_t available) {
  return ReadChunkChecked(stream, available) == ChunkReadStatus::kOk;
}

ChunkReadStatus FrameChunk::ReadChunkChecked(ByteReader& reader, std::uint32_t* declaredLength, bool borrow) {
  ByteSpan tag;
  if (!reader.Take(4, &tag)) return ChunkReadStatus::kShortTag;
  if (std::memcmp(tag.data(), kChunkTag, 4) != 0) return ChunkReadStatus::kBadTag;
  std::uint32_t length = 0;
  if (!reader.ReadLe32(&length)) return ChunkReadStatus::kShortLength;
  if (declaredLength != nullptr) *declaredLength = length;
  ByteSpan bytes;
  if (length > static_cast<std::uint32_t>(INT32_MAX) || !reader.Take(length, &bytes)) {
    return ChunkReadStatus::kTooLong;
  }
  Clear();
  if (length == 0) return ChunkReadStatus::kOk;
  if (borrow) {
    // Never written through: every change to a payload replaces it.
    payload = const_cast<std::uint8_t*>(bytes.data());
    borrowed_ = true;
  } else {
    payload = new (std::nothrow) std::uint8_t[length];
    if (payload == nullptr) return ChunkReadStatus::kNoMemory;
    std::memcpy(payload, bytes.data(), length);
  }
  compressedSize = static_cast<std::int32_t>(length);
  return ChunkReadStatus::kOk;
}

ChunkReadStatus FrameChunk::ReadChunkChecked(std::FILE* stream, std::uint64_t available,
                                             std::uint32_t* declaredLength) {
  if (stream == nullptr) return ChunkReadStatus::kNoStream;
  std::uint8_t head[kChunkHeaderSize];
  if (ReadFully(head, 4, stream) != 4) return ChunkReadStatus::kShortTag;
  if (std::memcmp(head, kChunkTag, 4) != 0) return ChunkReadStatus::kBadTag;
  if (ReadFully(head + 4, 4, stream) != 4) return ChunkReadStatus::kShortLength;
  const std::uint32_t length = LoadLe32(head + 4);
  if (declaredLength != nullptr) *declaredLength = length;
  const bool sizeKnown = available != UINT64_MAX;
  const std::uint64_t left = available >= kChunkHeaderSize ? available - kChunkHeaderSize : 0;
  // compressedSize is signed: a longer payload cannot be held.
  if (length > static_cast<std::uint32_t>(INT32_MAX)) {
    return ChunkReadStatus::kTooLong;
  }

  if (sizeKnown && length > left) {
    // The stream ends inside the payload: keep what it holds, never more.
    Clear();
    if (left == 0) return ChunkReadStatus::kTooLong;
    auto* partial = new (std::nothrow) std::uint8_t[left];
    if (partial == nullptr) return ChunkReadStatus::kNoMemory;
    const std::size_t got = ReadFully(partial, left, stream);
    payload = partial;
    compressedSize = static_cast<std::int32_t>(got);
    return ChunkReadStatus::kTooLong;
  }

  Clear();
  if (length == 0) return ChunkReadStatus::kOk;
  if (sizeKnown) {
    payload = new (std::nothrow) std::uint8_t[length];
    if (payload == nullptr) return ChunkReadStatus::kNoMemory;
    const std::size_t got = ReadFully(payload, length, stream);
    compressedSize = static_cast<std::int32_t>(got);
    return got == length ? ChunkReadStatus::kOk : ChunkReadStatus::kShortPayload;
  }

  // A stream that cannot tell its size: grow the buffer only as data arrives.
  std::size_t held = 0;
  std::size_t room = 0;
  std::uint8_t* buffer = nullptr;
  while (held < length) {
    const std::size_t want = std::min<std::size_t>(length - held, kUnknownReadStep);
    if (held + want > room) {
      const std::size_t grown = std::min<std::size_t>(length, std::max(room * 2, held + want));
      auto* bigger = new (std::nothrow) std::uint8_t[grown];
      if (bigger == nullptr) {
        delete[] buffer;
        return ChunkReadStatus::kNoMemory;
      }
      if (held != 0) std::memcpy(bigger, buffer, held);
      delete[] buffer;
      buffer = bigger;
      room = grown;
    }
    const std::size_t got = ReadFully(buffer + held, want, stream);
    held += got;
    if (got != want) break;
  }
  payload = buffer;
  compressedSize = static_cast<std::int32_t>(held);
  return held == length ? ChunkReadStatus::kOk : ChunkReadStatus::kShortPayload;
}

DecodeResult FrameChunk::DecodeChecked(std::uint8_t* destination, std::size_t capacity) const {
  return DecodeClipped(destination, capacity, capacity);
}

DecodeResult FrameChunk::DecodeClipped(std::uint8_t* destination, std::size_t picture,
                                       std::size_t capacity) const {
  if (payload == nullptr || compressedSize <= 0) return {DecodeStatus::kOk, 0, 0};
  if (destination == nullptr) picture = capacity = 0;
  return Expand<true>(payload, static_cast<std::size_t>(compressedSize), destination, capacity,
                      std::min(picture, capacity));
}

DecodeResult FrameChunk::CheckTokens(std::size_t capacity) const {
  if (payload == nullptr || compressedSize <= 0) return {DecodeStatus::kOk, 0, 0};
  return Expand<false>(payload, static_cast<std::size_t>(compressedSize), nullptr, capacity, 0);
}

bool FrameChunk::Decode(std::uint8_t* destination, std::size_t capacity) {
  return DecodeChecked(destination, capacity).status == DecodeStatus::kOk;
}

bool FrameChunk::Encode(const std::uint8_t* source, std::int32_t length) {
  Clear();
  if (length < 0 || (length > 0 && source == nullptr)) return false;
  if (length == 0) return true;
  const std::size_t n = static_cast<std::size_t>(length);
  // A literal of m bytes costs m + 1 and a run of two or more costs 3, so
  // the output never exceeds twice the input.
  auto* work = new (std::nothrow) std::uint8_t[2 * n];
  if (work == nullptr) return false;

  std::size_t i = 0;
  std::size_t out = 0;
  while (i < n) {
    const std::uint8_t a = source[i];
    if (i + 1 < n && source[i + 1] == a) {
      const std::size_t limit = std::min<std::size_t>(n - i, kMaxRun);
      std::size_t count = 2;
      while (count < limit && source[i + count] == a) ++count;
      work[out++] = static_cast<std::uint8_t>(count >> 8);
      work[out++] = static_cast<std::uint8_t>(count & 0xFF);
      work[out++] = a;
      i += count;
    } else {
      std::size_t k = i + 1;
      while (k < n && k - i < static_cast<std::size_t>(kMaxLiteral) &&
             !(k + 1 < n && source[k] == source[k + 1])) {
        ++k;
      }
      work[out++] = static_cast<std::uint8_t>(0x80 + (k - i));
      std::memcpy(work + out, source + i, k - i);
      out += k - i;
      i = k;
    }
  }

  // Trim to the exact length so that a loaded animation holds no slack.
  auto* exact = new (std::nothrow) std::uint8_t[out];
  if (exact == nullptr) {
    delete[] work;
    return false;
  }
  std::memcpy(exact, work, out);
  delete[] work;
  payload = exact;
  compressedSize = static_cast<std::int32_t>(out);
  return true;
}

bool FrameChunk::ConvertLegacyFrame(std::uint8_t* scratch, std::size_t scratchCapacity) {
  if (scratch == nullptr || scratchCapacity < kLegacyPictureSize) return false;
  // A picture may expand past 768 x 576 within the scratch; only its first
  // 768 x 576 bytes are kept.
  if (DecodeClipped(scratch, kLegacyPictureSize, scratchCapacity).status != DecodeStatus::kOk) return false;
  constexpr std::size_t kMargin = (kLegacyWidth - kFrameWidthDefault) / 2;  // 24
  // Rows move left and down onto themselves; memmove keeps each row intact.
  for (std::size_t row = 0; row < static_cast<std::size_t>(kLegacyHeight); ++row) {
    std::memmove(scratch + row * kFrameWidthDefault, scratch + row * kLegacyWidth + kMargin,
                 kFrameWidthDefault);
  }
  return Encode(scratch, kFrameWidthDefault * kFrameHeightDefault);
}

}  // namespace kiv
