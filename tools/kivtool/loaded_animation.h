// An animation file loaded into tables of kivtool's own, the way the player
// holds them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "anim/animation_file.h"

namespace kivtool {

class LoadedAnimation {
 public:
  LoadedAnimation() = default;
  LoadedAnimation(const LoadedAnimation&) = delete;
  LoadedAnimation& operator=(const LoadedAnimation&) = delete;

  // False when the file cannot be opened (opened() false) or is refused
  // (error() tells where and why).
  bool Load(const char* path);
  // As Load, for a file already in memory (the page hands over its bytes).
  bool LoadBytes(std::vector<std::uint8_t> bytes);
  // As Load, but a damaged frame does not refuse the file: every frame whose
  // chunk reads and checks is kept, the others are marked damaged. True when
  // the header, the background and the repeat flags are sound; damaged()
  // then says whether anything was lost and error() where the damage starts.
  bool Salvage(const char* path);

  bool opened() const { return opened_; }
  bool headerRead() const { return headerRead_; }
  const kiv::AnimationError& error() const { return error_; }
  // After a load: empty, or one line on a chunk that expands past its
  // picture within its buffer (sound; the excess is not shown).
  const std::string& note() const { return note_; }
  const kiv::AnimationHeader& header() const { return header_; }
  std::uint64_t fileSize() const { return fileSize_; }
  // The whole file as read, while the LoadedAnimation lives.
  kiv::ByteSpan bytes() const { return bytes_; }

  std::uint32_t first() const { return header_.firstFrame; }
  std::uint32_t last() const { return header_.lastFrame; }
  std::uint32_t count() const { return header_.lastFrame - header_.firstFrame + 1; }
  // Null for a damaged frame.
  kiv::FrameChunk* frame(std::uint32_t number) const { return tables_.frames[number]; }
  bool repeated(std::uint32_t number) const { return tables_.repeatFlags[number] != 0; }
  bool damaged() const { return !damage_.empty(); }
  // Why a frame was lost (empty when it is intact).
  const std::string& damageOf(std::uint32_t number) const;
  std::uint32_t readableFrames() const;
  kiv::FrameChunk* background() const { return tables_.backgroundChunk; }
  const std::uint8_t* backgroundPicture() const { return tables_.backgroundBuffer.get(); }
  std::size_t pictureSize() const;

  // Expands frame `number` into picture (pictureSize() bytes); composed over
  // the background through index 127 when `composite`. False for a damaged
  // frame.
  bool Picture(std::uint32_t number, bool composite, std::uint8_t* picture) const;

 private:
  kiv::AnimationTables Tables() { return tables_.View(); }
  bool Open(const char* path);
  bool TakeBytes();
  bool Attach();

  std::vector<std::uint8_t> bytes_;  // declared first: the chunks point into it
  bool opened_ = false;
  bool headerRead_ = false;
  kiv::AnimationError error_;
  std::string note_;
  kiv::AnimationHeader header_{};
  std::uint64_t fileSize_ = 0;
  kiv::OwnedTables tables_;  // after bytes_, so that it goes first
  std::vector<std::string> damage_;  // per frame number; empty when none is damaged
};

// Loads the file for a command. Returns -1 when it loaded; otherwise reports
// why on stderr and returns the command's exit status (kExitUsage when the
// file cannot be opened, kExitFinding when it is refused).
int LoadOrReport(LoadedAnimation& animation, const char* path);
// The same with Salvage: -1 also when frames were lost (the caller reports them).
int SalvageOrReport(LoadedAnimation& animation, const char* path);

// "kivtool: FILE: offset 0x1a3 (419): frame 3: what" on stderr.
void ReportRefusal(const char* path, const kiv::AnimationError& error);
// "kivtool: FILE: message" on stderr.
void ReportIoError(const std::string& path, const std::string& message);

}  // namespace kivtool
