#include "anim/animation_writer.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "anim/animation_file.h"
#include "anim/frame_chunk.h"

namespace kiv {
namespace {

void Append32(std::vector<std::uint8_t>* out, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) out->push_back(static_cast<std::uint8_t>(value >> shift));
}

void AppendTag(std::vector<std::uint8_t>* out, const char (&tag)[5]) {
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<std::uint8_t>(tag[i]));
}

std::vector<std::uint8_t> EncodePicture(const std::uint8_t* pixels, std::size_t size) {
  FrameChunk chunk;
  chunk.Encode(pixels, static_cast<std::int32_t>(size));
  return std::vector<std::uint8_t>(chunk.payload, chunk.payload + chunk.compressedSize);
}

// A 720-wide picture centred in a 768-wide one, as the oldest versions store it.
std::vector<std::uint8_t> WidenToLegacy(const std::vector<std::uint8_t>& frame) {
  constexpr std::size_t kMargin = (kLegacyWidth - kFrameWidthDefault) / 2;
  std::vector<std::uint8_t> wide(kLegacyPictureSize, 0);
  for (std::size_t row = 0; row < static_cast<std::size_t>(kLegacyHeight); ++row) {
    std::memcpy(wide.data() + row * kLegacyWidth + kMargin, frame.data() + row * kFrameWidthDefault,
                kFrameWidthDefault);
  }
  return wide;
}

bool Refuse(std::string* error, const std::string& why) {
  if (error != nullptr) *error = why;
  return false;
}

}  // namespace

void AppendChunk(std::vector<std::uint8_t>* out, const std::vector<std::uint8_t>& payload) {
  AppendTag(out, "FRME");
  Append32(out, static_cast<std::uint32_t>(payload.size()));
  out->insert(out->end(), payload.begin(), payload.end());
}

std::vector<std::uint8_t> AssembleAnimation(const AnimationWriteOptions& options,
                                            std::uint32_t lastFrame,
                                            const std::vector<std::uint8_t>& backgroundPayload,
                                            const std::vector<std::int32_t>& repeatFlags,
                                            const std::vector<std::vector<std::uint8_t>>& chunkPayloads) {
  std::vector<std::uint8_t> out;
  AppendTag(&out, "KIVA");
  Append32(&out, 0);  // reserved
  Append32(&out, static_cast<std::uint32_t>(options.version));
  std::uint32_t rateBits = 0;
  std::memcpy(&rateBits, &options.frameRate, sizeof rateBits);
  Append32(&out, rateBits);
  Append32(&out, options.firstFrame);
  Append32(&out, lastFrame);
  Append32(&out, options.loopStart);
  Append32(&out, options.loopEnd);
  if (options.version == kVersion949) {
    Append32(&out, static_cast<std::uint32_t>(options.width));
    Append32(&out, static_cast<std::uint32_t>(options.height));
  }
  const std::int64_t reserved = BackgroundOffsetOf(options.version) - static_cast<std::int64_t>(out.size());
  if (reserved > 0) out.resize(out.size() + static_cast<std::size_t>(reserved), 0);
  AppendChunk(&out, backgroundPayload);
  if (HasRepeatFlags(options.version)) {
    for (const std::int32_t flag : repeatFlags) Append32(&out, static_cast<std::uint32_t>(flag));
  }
  for (const auto& payload : chunkPayloads) AppendChunk(&out, payload);
  return out;
}

bool WriteAnimationToMemory(const AnimationWriteOptions& options,
                            const std::vector<std::vector<std::uint8_t>>& frames,
                            const std::vector<std::uint8_t>& background,
                            std::vector<std::uint8_t>* out, std::string* error) {
  if (out == nullptr) return Refuse(error, "no output");
  if (!IsKnownVersion(options.version)) {
    return Refuse(error, "unknown version " + std::to_string(options.version));
  }
  if (!std::isfinite(options.frameRate) || options.frameRate < 0.0f) {
    return Refuse(error, "frame rate must be finite and not negative");
  }
  if (options.width <= 0 || options.height <= 0 ||
      static_cast<std::uint64_t>(options.width) * static_cast<std::uint64_t>(options.height) >
          kMaxPictureSize) {
    return Refuse(error, "frame size must be at least 1x1 and at most " +
                             std::to_string(kMaxPictureSize) + " pixels");
  }
  if (options.version != kVersion949 &&
      (options.width != kFrameWidthDefault || options.height != kFrameHeightDefault)) {
    return Refuse(error, "version " + std::to_string(options.version) + " holds 720x576 frames only");
  }
  if (frames.empty()) return Refuse(error, "no frames");
  if (options.firstFrame > kLastFrameLimit || frames.size() > kLastFrameLimit + 1 - options.firstFrame) {
    return Refuse(error, "frame numbers must stay within 0 to " + std::to_string(kLastFrameLimit));
  }
  const std::size_t picture = static_cast<std::size_t>(options.width) * static_cast<std::size_t>(options.height);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (frames[i].size() != picture) {
      return Refuse(error, "frame " + std::to_string(options.firstFrame + i) + " holds " +
                               std::to_string(frames[i].size()) + " bytes, not " + std::to_string(picture));
    }
  }
  if (!background.empty() && background.size() != picture) {
    return Refuse(error, "background holds " + std::to_string(background.size()) + " bytes, not " +
                             std::to_string(picture));
  }

  const std::vector<std::uint8_t> zeros(background.empty() ? picture : 0, 0);
  const std::vector<std::uint8_t>& backgroundPicture = background.empty() ? zeros : background;
  const bool repeats = options.markRepeats && HasRepeatFlags(options.version);
  std::vector<std::int32_t> flags(frames.size(), 0);
  std::vector<std::vector<std::uint8_t>> payloads;
  for (std::size_t i = 0; i < frames.size(); ++i) {
    if (repeats && i > 0 && frames[i] == frames[i - 1]) {
      flags[i] = 1;
      continue;
    }
    if (IsLegacyVersion(options.version)) {
      const std::vector<std::uint8_t> wide = WidenToLegacy(frames[i]);
      payloads.push_back(EncodePicture(wide.data(), wide.size()));
    } else {
      payloads.push_back(EncodePicture(frames[i].data(), picture));
    }
  }
  const auto last = static_cast<std::uint32_t>(options.firstFrame + frames.size() - 1);
  *out = AssembleAnimation(options, last, EncodePicture(backgroundPicture.data(), picture), flags,
                           payloads);
  return true;
}

bool WriteAnimation(const char* path, const AnimationWriteOptions& options,
                    const std::vector<std::vector<std::uint8_t>>& frames,
                    const std::vector<std::uint8_t>& background, std::string* error) {
  std::vector<std::uint8_t> bytes;
  if (!WriteAnimationToMemory(options, frames, background, &bytes, error)) return false;
  if (path == nullptr) return Refuse(error, "no path");
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return Refuse(error, std::string("cannot create ") + path);
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) return Refuse(error, std::string("cannot write ") + path);
  return true;
}

}  // namespace kiv
