// Holds the frame decoder to a byte-at-a-time reference on payloads of short
// tokens with a few long runs, damaged and cut where the input says, with
// destinations of every size: the result and every destination byte, written
// or not, must agree. Payloads stay within a few kilobytes and expand to at
// most kExpandBudget bytes, so that an input costs well under a millisecond
// and the fuzzer reaches depth; the decoder's paths do not depend on length.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "anim/frame_chunk.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kExpandBudget = 96 * 1024;

kiv::DecodeResult Reference(const Bytes& payload, std::uint8_t* out, std::size_t capacity) {
  std::size_t q = 0, written = 0;
  while (q < payload.size()) {
    const std::size_t h = payload[q];
    const bool literal = h >= 0x80;
    if (literal ? q + 1 + (h - 0x80) > payload.size() : q + 3 > payload.size()) {
      return {kiv::DecodeStatus::kTruncated, written, q};
    }
    const std::size_t count = literal ? h - 0x80 : (h << 8 | payload[q + 1]);
    if (written + count > capacity) return {kiv::DecodeStatus::kOverrun, written, q};
    for (std::size_t i = 0; i < count; ++i)
      out[written + i] = literal ? payload[q + 1 + i] : payload[q + 2];
    written += count;
    q += literal ? 1 + count : 3;
  }
  return {kiv::DecodeStatus::kOk, written, q};
}

Bytes Generate(std::mt19937& random, std::size_t size, unsigned longShare) {
  Bytes payload;
  std::size_t expanded = 0;
  while (payload.size() < size) {
    const unsigned kind = random() % 100;
    if (kind < 48) {
      const std::size_t count = kind < longShare ? random() % 128 : random() % 17;
      payload.push_back(static_cast<std::uint8_t>(0x80 + count));
      expanded += count;
      for (std::size_t i = 0; i < count; ++i)
        payload.push_back(static_cast<std::uint8_t>(random()));
    } else {
      const bool longRun = kind < 48 + longShare && expanded < kExpandBudget / 2;
      const std::size_t count = longRun ? random() % 32768 : random() % 24;
      expanded += count;
      payload.insert(payload.end(),
                     {static_cast<std::uint8_t>(count >> 8), static_cast<std::uint8_t>(count),
                      static_cast<std::uint8_t>(random())});
    }
  }
  return payload;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  std::uint32_t seed;
  std::memcpy(&seed, data, 4);
  std::mt19937 random(seed);
  Bytes payload = Generate(random, 256 + (data[4] % 8) * 512, data[5] % 4);
  // The rest of the input: (offset, value) edits, then a cut.
  for (std::size_t i = 8; i + 3 <= size; i += 3) {
    const std::size_t at = (data[i] | data[i + 1] << 8 | (data[i] & 1) << 16) % payload.size();
    payload[at] = data[i + 2];
  }
  if (data[6] & 1) payload.resize(payload.size() - data[7] % 200);

  std::size_t total = 0;
  for (std::size_t q = 0; q < payload.size();) {
    const std::size_t h = payload[q];
    const std::size_t step = h >= 0x80 ? h - 0x7F : 3;
    if (q + step > payload.size()) break;
    total += h >= 0x80 ? h - 0x80 : (h << 8 | payload[q + 1]);
    q += step;
  }
  const std::size_t capacity = data[6] & 2 ? total : total * (data[7] + 1) / 256;

  kiv::FrameChunk chunk;
  chunk.payload = new std::uint8_t[payload.size()];
  std::memcpy(chunk.payload, payload.data(), payload.size());
  chunk.compressedSize = static_cast<std::int32_t>(payload.size());
  Bytes want(capacity + 64, 0xEE);
  const kiv::DecodeResult expected = Reference(payload, want.data(), capacity);
  Bytes got(capacity + 64, 0xEE);
  const kiv::DecodeResult result = chunk.DecodeChecked(got.data(), capacity);
  if (result.status != expected.status || result.written != expected.written ||
      result.tokenOffset != expected.tokenOffset || got != want) {
    __builtin_trap();
  }
  return 0;
}
