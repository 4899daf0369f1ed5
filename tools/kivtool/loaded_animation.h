// An animation file loaded into tables of kivtool's own, the way the player
// holds them, plus the screen palette that frames are shown with.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "anim/animation_file.h"

namespace kivtool {

class LoadedAnimation {
 public:
  LoadedAnimation();
  ~LoadedAnimation();
  LoadedAnimation(const LoadedAnimation&) = delete;
  LoadedAnimation& operator=(const LoadedAnimation&) = delete;

  // False when the file cannot be opened (opened() false) or is refused
  // (error() tells where and why).
  bool Load(const char* path);
  bool opened() const { return opened_; }
  const kiv::AnimationError& error() const { return error_; }
  const kiv::AnimationHeader& header() const { return header_; }

  std::uint32_t first() const { return firstFrame_; }
  std::uint32_t last() const { return lastFrame_; }
  kiv::FrameChunk* frame(std::uint32_t number) const { return frames_[number]; }
  bool repeated(std::uint32_t number) const { return repeatFlags_[number] != 0; }
  kiv::FrameChunk* background() const { return backgroundChunk_; }
  const std::uint8_t* backgroundPicture() const { return backgroundBuffer_.get(); }
  std::size_t pictureSize() const;

 private:
  kiv::AnimationTables Tables();

  bool opened_ = false;
  kiv::AnimationError error_;
  kiv::AnimationHeader header_{};
  float frameRate_ = 0;
  std::uint32_t firstFrame_ = 0;
  std::uint32_t lastFrame_ = 0;
  std::vector<kiv::FrameChunk*> frames_;
  std::vector<std::int32_t> repeatFlags_;
  kiv::FrameChunk* backgroundChunk_ = nullptr;
  std::unique_ptr<std::uint8_t[]> backgroundBuffer_;
  std::unique_ptr<std::uint8_t[]> legacyScratch_;
};

// Loads the file for a command. Returns -1 when it loaded; otherwise reports
// why on stderr and returns the command's exit status (kExitUsage when the
// file cannot be opened, kExitFinding when it is refused).
int LoadOrReport(LoadedAnimation& animation, const char* path);

// "kivtool: FILE: offset 0x1a3 (419): frame 3: what" on stderr.
void ReportRefusal(const char* path, const kiv::AnimationError& error);
// "kivtool: FILE: message" on stderr.
void ReportIoError(const char* path, const std::string& message);

// The player's screen palette: the font sheet's colour map (stored blue,
// green, red at byte 18) with the ramps on top. 768 bytes, red green blue.
std::vector<std::uint8_t> ScreenPalette();

}  // namespace kivtool
