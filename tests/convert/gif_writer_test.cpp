#include "convert/gif_writer.h"

#include "convert/gif_encoder.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numeric>
#include <random>

#include "convert/png_io.h"

namespace kiv {
namespace {

std::uint32_t Total(const GifTiming& timing) {
  std::uint32_t total = 0;
  for (const GifShown& shown : timing.shown) total += shown.centiseconds;
  return total;
}

TEST(GifTiming, SpreadsTheRemainderAndKeepsTheDuration) {
  // 29.97 fps: 3.337 cs a frame; 300 frames last 1001 cs.
  const GifTiming ntsc = PlanGifTiming(300, 29.97f);
  ASSERT_EQ(ntsc.shown.size(), 300u);
  EXPECT_EQ(ntsc.dropped, 0u);
  EXPECT_EQ(Total(ntsc), 1001u);
  for (const GifShown& shown : ntsc.shown) EXPECT_TRUE(shown.centiseconds == 3 || shown.centiseconds == 4);
  // Whole centiseconds stay exact.
  const GifTiming pal = PlanGifTiming(10, 25.0);
  for (const GifShown& shown : pal.shown) EXPECT_EQ(shown.centiseconds, 4u);
}

TEST(GifTiming, LeavesOutFramesLessThanTwoCentisecondsApart) {
  // 60 fps, 6 frames: starts 0, 2, 3, 5, 7, 8 cs; the whole lasts 10 cs.
  const GifTiming fast = PlanGifTiming(6, 60.0);
  EXPECT_EQ(fast.dropped, 2u);
  EXPECT_EQ(fast.shown.size(), 4u);
  EXPECT_EQ(Total(fast), 10u);
  for (const GifShown& shown : fast.shown) EXPECT_GE(shown.centiseconds, kMinGifDelay);
  // 200 fps over 1000 frames: 500 cs, every delay at least 2.
  const GifTiming faster = PlanGifTiming(1000, 200.0);
  EXPECT_EQ(Total(faster), 500u);
  EXPECT_EQ(faster.shown.size() + faster.dropped, 1000u);
  for (const GifShown& shown : faster.shown) EXPECT_GE(shown.centiseconds, kMinGifDelay);
  // A last frame too short to show goes too; the one before takes its time.
  const GifTiming two = PlanGifTiming(2, 100.0);
  ASSERT_EQ(two.shown.size(), 1u);
  EXPECT_EQ(two.shown[0].centiseconds, 2u);
}

TEST(GifTiming, CutsDelaysLongerThanAGifHolds) {
  // 0.001 fps is 100000 cs a frame; the tiniest positive float would
  // overflow the start times.
  for (const double rate : {0.001, 1e-45}) {
    const GifTiming slow = PlanGifTiming(9999, rate);
    ASSERT_EQ(slow.shown.size(), 9999u);
    EXPECT_EQ(slow.clamped, 9999u);
    EXPECT_EQ(slow.shown.back().centiseconds, kMaxGifDelay);
  }
}

// Plays a GIF the way a viewer does: each frame drawn over the canvas
// (transparent pixels leave it), then disposed as its control block says.
// The canvas holds indices; kClear marks a transparent pixel.
constexpr int kClear = -1;
struct Played {
  std::vector<std::vector<int>> pictures;
  std::vector<int> delays;
};

Played Play(std::FILE* file) {
  std::rewind(file);
  int error = 0;
  GifFileType* gif = DGifOpen(file, [](GifFileType* g, GifByteType* out, int n) {
    return static_cast<int>(std::fread(out, 1, static_cast<std::size_t>(n), static_cast<std::FILE*>(g->UserData)));
  }, &error);
  EXPECT_NE(gif, nullptr);
  EXPECT_EQ(DGifSlurp(gif), GIF_OK);
  Played played;
  std::vector<int> canvas(static_cast<std::size_t>(gif->SWidth * gif->SHeight), kClear);
  for (int i = 0; i < gif->ImageCount; ++i) {
    const SavedImage& image = gif->SavedImages[i];
    GraphicsControlBlock control{};
    DGifSavedExtensionToGCB(gif, i, &control);
    const GifImageDesc& d = image.ImageDesc;
    for (int y = 0; y < d.Height; ++y) {
      for (int x = 0; x < d.Width; ++x) {
        const int value = image.RasterBits[y * d.Width + x];
        if (value != control.TransparentColor) canvas[(d.Top + y) * gif->SWidth + d.Left + x] = value;
      }
    }
    played.pictures.push_back(canvas);
    played.delays.push_back(control.DelayTime);
    if (control.DisposalMode == DISPOSE_BACKGROUND) {
      for (int y = 0; y < d.Height; ++y) {
        for (int x = 0; x < d.Width; ++x) canvas[(d.Top + y) * gif->SWidth + d.Left + x] = kClear;
      }
    }
  }
  DGifCloseFile(gif, &error);
  return played;
}

std::vector<int> Expected(const std::vector<std::uint8_t>& picture, int transparent) {
  std::vector<int> out(picture.begin(), picture.end());
  for (int& value : out) value = value == transparent ? kClear : value;
  return out;
}

TEST(GifWriter, ViewersSeeEveryPictureWithRepeatsMerged) {
  const std::vector<std::uint8_t> palette(768, 0);
  // 4x3 pictures; 127 is transparent. B repeats A; C changes one corner and
  // opens holes (127 where A had colour); D fills one hole again.
  const std::vector<std::uint8_t> a{1, 1, 1, 1, 2, 2, 2, 2, 127, 3, 3, 3};
  const std::vector<std::uint8_t> c{1, 1, 1, 1, 2, 127, 127, 2, 127, 3, 3, 9};
  const std::vector<std::uint8_t> d{1, 1, 1, 1, 2, 5, 127, 2, 127, 3, 3, 9};
  for (const int transparent : {127, kNoTransparency}) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    GifWriter writer;
    std::string error;
    ASSERT_TRUE(writer.Open(file, 4, 3, palette, transparent, &error)) << error;
    for (const auto* picture : {&a, &a, &c, &d}) ASSERT_TRUE(writer.Add(picture->data(), 4, &error)) << error;
    ASSERT_TRUE(writer.Close(&error)) << error;
    EXPECT_EQ(writer.framesWritten(), 3u);
    const Played played = Play(file);
    std::fclose(file);
    ASSERT_EQ(played.pictures.size(), 3u);
    EXPECT_EQ(played.pictures[0], Expected(a, transparent));
    EXPECT_EQ(played.pictures[1], Expected(c, transparent));
    EXPECT_EQ(played.pictures[2], Expected(d, transparent));
    EXPECT_EQ(played.delays, (std::vector<int>{8, 4, 4}));
  }
}

TEST(GifWriter, MergedRepeatsKeepTheLongestDelayAGifHolds) {
  // Seven alike pictures of 100 s each merge into one frame; 700 s does not
  // fit the 16-bit delay, which must stay at its largest, not wrap to 44.64 s.
  const std::vector<std::uint8_t> palette(768, 0);
  const std::vector<std::uint8_t> a{1, 2};
  const std::vector<std::uint8_t> b{3, 2};
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  GifWriter writer;
  std::string error;
  ASSERT_TRUE(writer.Open(file, 2, 1, palette, kNoTransparency, &error)) << error;
  for (int i = 0; i < 7; ++i) ASSERT_TRUE(writer.Add(a.data(), 10000, &error)) << error;
  // Below the limit repeats add up exactly: 3 x 100 s.
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(writer.Add(b.data(), 10000, &error)) << error;
  ASSERT_TRUE(writer.Close(&error)) << error;
  const Played played = Play(file);
  std::fclose(file);
  ASSERT_EQ(played.pictures.size(), 2u);
  EXPECT_EQ(played.pictures[0], Expected(a, kNoTransparency));
  EXPECT_EQ(played.pictures[1], Expected(b, kNoTransparency));
  EXPECT_EQ(played.delays, (std::vector<int>{static_cast<int>(kMaxGifDelay), 30000}));
}


// GifEncoder (our own LZW, into memory) and GifWriter (giflib) given the
// same pictures: giflib decodes both to the same frames, delays, header and
// palette. The sizes take the codes across every width change and past a
// full table; the pictures are flat, ramps, noise and noise with holes.
TEST(GifEncoder, DecodesAsGifWriterDoes) {
  std::vector<std::uint8_t> palette(768);
  std::iota(palette.begin(), palette.end(), 0);
  std::mt19937 random(7);
  struct Case { std::int32_t width, height; int kind; };
  for (const Case& test : {Case{1, 1, 0}, Case{2, 1, 2}, Case{255, 1, 2}, Case{256, 2, 2}, Case{511, 1, 2},
                           Case{257, 3, 1}, Case{64, 64, 2}, Case{91, 45, 3}, Case{300, 240, 3}, Case{640, 9, 1}}) {
    std::vector<std::vector<std::uint8_t>> pictures(4, std::vector<std::uint8_t>(
        static_cast<std::size_t>(test.width * test.height)));
    for (std::size_t p = 0; p < pictures.size(); ++p) {
      for (std::size_t i = 0; i < pictures[p].size(); ++i) {
        const auto noise = static_cast<std::uint8_t>(random());
        const std::uint8_t values[] = {static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(i + p), noise,
                                       noise % 3 == 0 ? std::uint8_t{127} : noise};
        pictures[p][i] = values[test.kind];
      }
    }
    pictures[2] = pictures[1];  // a repeat merges
    for (const int transparent : {127, kNoTransparency}) {
      std::string error;
      std::FILE* reference = std::tmpfile();
      std::FILE* ours = std::tmpfile();
      ASSERT_TRUE(reference != nullptr && ours != nullptr);
      GifWriter writer;
      GifEncoder encoder;
      ASSERT_TRUE(writer.Open(reference, test.width, test.height, palette, transparent, &error)) << error;
      ASSERT_TRUE(encoder.Open(test.width, test.height, palette, transparent, &error)) << error;
      for (const auto& picture : pictures) {
        ASSERT_TRUE(writer.Add(picture.data(), 3, &error)) << error;
        encoder.Add(picture.data(), 3);
      }
      ASSERT_TRUE(writer.Close(&error)) << error;
      encoder.Close();
      std::fwrite(encoder.bytes().data(), 1, encoder.bytes().size(), ours);
      const Played expected = Play(reference);
      const Played played = Play(ours);
      EXPECT_EQ(played.pictures, expected.pictures) << test.width << "x" << test.height << " kind " << test.kind;
      EXPECT_EQ(played.delays, expected.delays);
      // Header, screen and colour map, byte for byte.
      std::vector<std::uint8_t> head(13 + 768);
      std::rewind(reference);
      ASSERT_EQ(std::fread(head.data(), 1, head.size(), reference), head.size());
      EXPECT_TRUE(std::equal(head.begin(), head.end(), encoder.bytes().begin()));
      std::fclose(reference);
      std::fclose(ours);
    }
  }
}

}  // namespace
}  // namespace kiv
