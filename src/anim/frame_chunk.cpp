#include "anim/frame_chunk.h"

#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

namespace kiv {
namespace {

constexpr char kChunkTag[4] = {'F', 'R', 'M', 'E'};
constexpr std::int32_t kMaxLiteral = 123;     // the encoder's literal limit
constexpr std::int32_t kMaxRun = 32760;       // the encoder's run limit (0x7FF8)
constexpr std::size_t kUnknownReadStep = 1u << 20;

std::uint32_t ReadLe32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
         static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

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
    // Short enough that a library call would cost more than the stores.
    const __m128i v = _mm_set1_epi8(static_cast<char>(value));
    for (std::size_t i = 0; i + 16 < count; i += 16) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + i), v);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + count - 16), v);
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

// The one token loop behind DecodeChecked and CheckTokens, from the token at
// payload offset q with `written` bytes already out. Every token is checked
// once against what is left of the payload and of the destination, then
// expanded with one bulk copy or fill.
template <bool kWrite>
DecodeResult Expand(const std::uint8_t* payload, std::size_t size, std::uint8_t* destination,
                    std::size_t capacity, std::size_t q = 0, std::size_t written = 0) {
  while (q < size) {
    const std::size_t header = payload[q];
    const std::size_t left = size - q;
    if (header >= 0x80) {
      const std::size_t count = header - 0x80;
      if (count >= left) return {DecodeStatus::kTruncated, written, q};
      if (count > capacity - written) return {DecodeStatus::kOverrun, written, q};
      if constexpr (kWrite) CopyBytes(destination + written, payload + q + 1, count);
      written += count;
      q += 1 + count;
    } else {
      if (left < 3) return {DecodeStatus::kTruncated, written, q};
      const std::size_t count = header << 8 | payload[q + 1];
      if (count > capacity - written) return {DecodeStatus::kOverrun, written, q};
      if constexpr (kWrite) FillBytes(destination + written, payload[q + 2], count);
      written += count;
      q += 3;
    }
  }
  return {DecodeStatus::kOk, written, q};
}

// Two-chain decoding. Where each header sits depends on the header before it,
// and for pictures of short tokens that chain of loads, not the stores, bounds
// one loop. So a second chain starts at a guessed offset in the second half
// of the payload and expands into a side buffer, interleaved with the true
// chain from the start. When the true chain reaches one of the second chain's
// first headers, everything the second chain wrote from there on is right and
// is copied into place; if they never meet, the true chain simply goes on.
// Longer tokens are copy-bound and one chain serves them as well.
constexpr std::size_t kSplitMinimum = 16384;  // smaller payloads: one chain
constexpr std::size_t kHeadProbe = 512;       // payload bytes sampled first
constexpr std::size_t kShortToken = 16;       // mean payload bytes per token to split
// A token starting this far from the payload end lies wholly inside it, and
// so do 16-byte loads just past its header: chains stop there.
constexpr std::size_t kSafeTail = 136;
constexpr std::size_t kMarks = 256;             // second-chain headers kept for the meeting
constexpr std::size_t kSlack = 16;              // side-buffer room for whole-vector stores
constexpr std::size_t kSideMaximum = 1u << 22;  // the second chain stops when its buffer is full

struct Splats {
  alignas(16) std::uint8_t bytes[256][16];
  constexpr Splats() : bytes() {
    for (int v = 0; v < 256; ++v) {
      for (int i = 0; i < 16; ++i) bytes[v][i] = static_cast<std::uint8_t>(v);
    }
  }
};
constexpr Splats kSplats;

// A per-thread side buffer that only grows; null when it cannot.
std::uint8_t* SideBuffer(std::size_t size) {
  struct Buffer {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::size_t size = 0;
  };
  thread_local Buffer buffer;
  if (buffer.size < size) {
    buffer.bytes.reset(new (std::nothrow) std::uint8_t[size]);
    buffer.size = buffer.bytes ? size : 0;
  }
  return buffer.bytes.get();
}

// The stores of one token. Exact: nothing outside the token is touched.
// Side: into the side buffer, which has kSlack bytes beyond its end, so a
// short token is one 16-byte store that may spill past it (nothing past the
// second chain's last token is copied out). Masked: where the processor has
// byte-masked vector stores, a short token is one store with no branch on
// its length that still touches nothing outside itself.
inline void SideCopy(std::uint8_t* out, const std::uint8_t* in, std::size_t count) {
  if (count <= 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(in)));
  } else {
    CopyBytes(out, in, count);
  }
}

inline void SideFill(std::uint8_t* out, std::uint8_t value, std::size_t count) {
  if (count <= 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_load_si128(reinterpret_cast<const __m128i*>(kSplats.bytes[value])));
  } else {
    FillBytes(out, value, count);
  }
}

#define KIV_MASKED_STORES gnu::always_inline, gnu::target("avx512bw,avx512vl,bmi2")

[[KIV_MASKED_STORES]] inline __mmask16 FirstBytes(std::size_t count) {
  return static_cast<__mmask16>(_bzhi_u32(0xFFFFu, static_cast<unsigned>(count)));
}

[[KIV_MASKED_STORES]] inline void MaskedCopy(std::uint8_t* out, const std::uint8_t* in,
                                             std::size_t count) {
  if (count <= 16) {
    _mm_mask_storeu_epi8(out, FirstBytes(count),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(in)));
  } else {
    CopyBytes(out, in, count);
  }
}

[[KIV_MASKED_STORES]] inline void MaskedFill(std::uint8_t* out, std::uint8_t value,
                                             std::size_t count) {
  if (count <= 16) {
    _mm_mask_storeu_epi8(out, FirstBytes(count),
                         _mm_load_si128(reinterpret_cast<const __m128i*>(kSplats.bytes[value])));
  } else {
    FillBytes(out, value, count);
  }
}

// One token at `in`, written at `out` with the stores COPY and FILL; the
// caller guarantees the whole token lies in the payload. Runs FAIL, with
// nothing written, when the token would pass `outEnd`.
#define KIV_TOKEN(in, out, outEnd, FAIL, COPY, FILL)                 \
  {                                                                  \
    const std::size_t h_ = *(in);                                    \
    if (h_ >= 0x80) {                                                \
      const std::size_t count_ = h_ - 0x80;                          \
      if (count_ > static_cast<std::size_t>((outEnd) - (out))) FAIL; \
      COPY(out, (in) + 1, count_);                                   \
      (out) += count_;                                               \
      (in) += 1 + count_;                                            \
    } else {                                                         \
      const std::size_t count_ = h_ << 8 | (in)[1];                  \
      if (count_ > static_cast<std::size_t>((outEnd) - (out))) FAIL; \
      FILL(out, (in)[2], count_);                                    \
      (out) += count_;                                               \
      (in) += 3;                                                     \
    }                                                                \
  }
#define KIV_EXACT_TOKEN(in, out, outEnd, FAIL) KIV_TOKEN(in, out, outEnd, FAIL, CopyBytes, FillBytes)
#define KIV_SIDE_TOKEN(in, out, outEnd, FAIL) KIV_TOKEN(in, out, outEnd, FAIL, SideCopy, SideFill)
#define KIV_MASKED_TOKEN(in, out, outEnd, FAIL) \
  KIV_TOKEN(in, out, outEnd, FAIL, MaskedCopy, MaskedFill)

struct Chains {
  const std::uint8_t* a;  // true chain: next header
  std::uint8_t* aOut;     // and its next output byte
  const std::uint8_t* b;  // second chain, likewise, in the side buffer
  std::uint8_t* bOut;
};

using RunBothFunction = Chains (*)(Chains, const std::uint8_t*, std::uint8_t*, const std::uint8_t*,
                                   std::uint8_t*);

// Both chains a token each per round, until the true chain reaches aStop or
// the second chain bStop, or either would overrun its buffer.
#define KIV_RUN_BOTH(EXACT_TOKEN)        \
  const std::uint8_t* a = c.a;           \
  std::uint8_t* aOut = c.aOut;           \
  const std::uint8_t* b = c.b;           \
  std::uint8_t* bOut = c.bOut;           \
  while (a < aStop && b < bStop) {       \
    EXACT_TOKEN(a, aOut, aEnd, break)    \
    KIV_SIDE_TOKEN(b, bOut, bEnd, break) \
  }                                      \
  return {a, aOut, b, bOut};

[[gnu::noinline]] Chains RunBoth(Chains c, const std::uint8_t* aStop, std::uint8_t* aEnd,
                                 const std::uint8_t* bStop, std::uint8_t* bEnd) {
  KIV_RUN_BOTH(KIV_EXACT_TOKEN)
}

[[gnu::noinline, gnu::target("avx512bw,avx512vl,bmi2")]] Chains RunBothMasked(
    Chains c, const std::uint8_t* aStop, std::uint8_t* aEnd, const std::uint8_t* bStop,
    std::uint8_t* bEnd) {
  KIV_RUN_BOTH(KIV_MASKED_TOKEN)
}

// The masked form where the processor and system support it.
RunBothFunction PickRunBoth(DecodePath path) {
  __builtin_cpu_init();
  if (path == DecodePath::kAuto && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("bmi2")) {
    return RunBothMasked;
  }
  return RunBoth;
}

std::atomic<RunBothFunction>& RunBothChoice() {
  static std::atomic<RunBothFunction> choice{PickRunBoth(DecodePath::kAuto)};
  return choice;
}

DecodeResult DecodeInTwo(const std::uint8_t* p, std::size_t n, std::uint8_t* d,
                         std::size_t capacity) {
  if (n < kSplitMinimum || d == nullptr) return Expand<true>(p, n, d, capacity);
  std::uint8_t* const dEnd = d + capacity;
  const std::uint8_t* a = p;
  std::uint8_t* aOut = d;
  const auto serial = [&] {
    return Expand<true>(p, n, d, capacity, static_cast<std::size_t>(a - p),
                        static_cast<std::size_t>(aOut - d));
  };
  // The head, one chain: its tokens show whether a second chain can pay.
  std::size_t tokens = 0;
  while (a < p + kHeadProbe) {
    KIV_EXACT_TOKEN(a, aOut, dEnd, return serial())
    ++tokens;
  }
  const std::size_t sideCapacity = std::min(capacity, kSideMaximum);
  std::uint8_t* side = nullptr;
  if (static_cast<std::size_t>(a - p) / tokens <= kShortToken) {
    side = SideBuffer(sideCapacity + kSlack);
  }
  if (side == nullptr) return serial();

  const std::uint8_t* const start = a + (p + n - a) / 2;
  const std::uint8_t* const sideStop = p + n - kSafeTail;
  std::uint8_t* const sideEnd = side + sideCapacity;
  const std::uint8_t* b = start;
  std::uint8_t* bOut = side;
  const std::uint8_t* markIn[kMarks];
  std::uint8_t* markOut[kMarks];
  std::size_t marks = 0;
  bool sideRoom = true;
  while (marks < kMarks && b < sideStop) {
    markIn[marks] = b;
    markOut[marks] = bOut;
    ++marks;
    KIV_SIDE_TOKEN(b, bOut, sideEnd, {
      sideRoom = false;
      break;
    })
  }
  if (sideRoom) {
    const RunBothFunction runBoth = RunBothChoice().load(std::memory_order_relaxed);
    const Chains c = runBoth({a, aOut, b, bOut}, start, dEnd, sideStop, sideEnd);
    a = c.a;
    aOut = c.aOut;
    b = c.b;
    bOut = c.bOut;
  }
  while (a < start) KIV_EXACT_TOKEN(a, aOut, dEnd, return serial())
  // The true chain walks on to the first header both chains share.
  std::size_t j = 0;
  for (;;) {
    while (j < marks && markIn[j] < a) ++j;
    if (j == marks) return serial();
    if (markIn[j] == a) break;
    KIV_EXACT_TOKEN(a, aOut, dEnd, return serial())
  }
  const std::size_t moved = static_cast<std::size_t>(bOut - markOut[j]);
  if (moved > static_cast<std::size_t>(dEnd - aOut)) return serial();
  std::memcpy(aOut, markOut[j], moved);
  return Expand<true>(p, n, d, capacity, static_cast<std::size_t>(b - p),
                      static_cast<std::size_t>(aOut - d) + moved);
}

#undef KIV_TOKEN
#undef KIV_MASKED_STORES
#undef KIV_EXACT_TOKEN
#undef KIV_SIDE_TOKEN
#undef KIV_MASKED_TOKEN
#undef KIV_RUN_BOTH

}  // namespace

void SetDecodePath(DecodePath path) {
  RunBothChoice().store(PickRunBoth(path), std::memory_order_relaxed);
}

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

FrameChunk::~FrameChunk() { delete[] payload; }

void FrameChunk::Clear() {
  delete[] payload;
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

ChunkReadStatus FrameChunk::ReadChunkChecked(std::FILE* stream, std::uint64_t available) {
  if (stream == nullptr) return ChunkReadStatus::kNoStream;
  std::uint8_t head[8];
  if (ReadFully(head, 4, stream) != 4) return ChunkReadStatus::kShortTag;
  if (std::memcmp(head, kChunkTag, 4) != 0) return ChunkReadStatus::kBadTag;
  if (ReadFully(head + 4, 4, stream) != 4) return ChunkReadStatus::kShortLength;
  const std::uint32_t length = ReadLe32(head + 4);
  const bool sizeKnown = available != UINT64_MAX;
  const std::uint64_t left = available >= 8 ? available - 8 : 0;
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
  if (payload == nullptr || compressedSize <= 0) return {DecodeStatus::kOk, 0, 0};
  if (destination == nullptr) capacity = 0;
  return DecodeInTwo(payload, static_cast<std::size_t>(compressedSize), destination, capacity);
}

DecodeResult FrameChunk::CheckTokens(std::size_t capacity) const {
  if (payload == nullptr || compressedSize <= 0) return {DecodeStatus::kOk, 0, 0};
  return Expand<false>(payload, static_cast<std::size_t>(compressedSize), nullptr, capacity);
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
  if (!Decode(scratch, kLegacyPictureSize)) return false;
  constexpr std::size_t kMargin = (kLegacyWidth - kFrameWidthDefault) / 2;  // 24
  // Rows move left and down onto themselves; memmove keeps each row intact.
  for (std::size_t row = 0; row < static_cast<std::size_t>(kLegacyHeight); ++row) {
    std::memmove(scratch + row * kFrameWidthDefault, scratch + row * kLegacyWidth + kMargin,
                 kFrameWidthDefault);
  }
  return Encode(scratch, kFrameWidthDefault * kFrameHeightDefault);
}

}  // namespace kiv
