#include "display/sdl/sdl_display.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "display/counting_sdl.h"
#include "display/sdl/cursors.h"

namespace kiv {
namespace {

using test::CallLog;

const char kRefusal[] = " *** Sorry, only 8 bit displays are supported!\n";

class SdlDisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    test::InstallCountingCalls(true);
  }
  void TearDown() override {
    display.Shutdown();
    test::RestoreSdlCalls();
    SDL_Quit();
  }
  // A surface made by the test; it outlives the display's last release.
  test::FakeSurface& MakeSurface(int width, int height, int pitch, Uint32 flags) {
    surfaces.push_back(std::make_unique<test::FakeSurface>(width, height, pitch, flags));
    return *surfaces.back();
  }
  // A mode over a surface made by the test.
  void SetMustLockMode(test::FakeSurface& fake) {
    test::InstallCountingCalls(false);
    test::InstallFakeVideoMode();
    CallLog().modeResult = &fake.surface;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(display.SetVideoMode(fake.surface.w, fake.surface.h, 8));
    testing::internal::GetCapturedStdout();
  }

  std::vector<std::unique_ptr<test::FakeSurface>> surfaces;
  SdlDisplay display;
};

TEST_F(SdlDisplayTest, ModeSetPrintsVideoInformationAndTakesTheSurfacePitch) {
  ASSERT_TRUE(display.Init());
  testing::internal::CaptureStdout();
  ASSERT_TRUE(display.SetVideoMode(200, 100, 8));
  const std::string out = testing::internal::GetCapturedStdout();
  const char* names[] = {"hw_available", "wm_available", "blit_hw",  "blit_hw_CC", "blit_hw_A",
                         "blit_sw",      "blit_sw_CC",   "blit_sw_A", "blit_fill",  "video_mem"};
  std::size_t at = 0;
  for (const char* name : names) {
    const std::string prefix = std::string(name) + " = ";
    ASSERT_EQ(out.compare(at, prefix.size(), prefix), 0) << "expected " << name << " at " << at;
    at = out.find('\n', at);
    ASSERT_NE(at, std::string::npos);
    ++at;
  }
  EXPECT_EQ(at, out.size()) << "exactly ten lines";

  ASSERT_NE(display.Surface(), nullptr);
  EXPECT_EQ(display.Width(), 200);
  EXPECT_EQ(display.Height(), 100);
  EXPECT_EQ(display.BitsPerPixel(), 8);
  EXPECT_EQ(display.Pitch(), display.Surface()->pitch);
  EXPECT_GE(display.Pitch(), 200);
  std::uint8_t* pixels = display.Lock();
  ASSERT_EQ(pixels, display.Surface()->pixels);
  pixels[99 * display.Pitch() + 199] = 7;  // the last pixel is writable
  EXPECT_TRUE(display.Unlock());
  EXPECT_TRUE(display.Flip());
  EXPECT_EQ(CallLog().flips, 1);
}

TEST_F(SdlDisplayTest, FailedModeKeepsTheRequestedFieldsAndHasNoSurface) {
  ASSERT_TRUE(display.Init());
  test::InstallFakeVideoMode();  // hands out null
  testing::internal::CaptureStderr();
  EXPECT_FALSE(display.SetVideoMode(123, 45, 8));
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("Couldn't set 123x45x8 video mode: ", 0), 0u) << err;
  EXPECT_EQ(display.Width(), 123);
  EXPECT_EQ(display.Height(), 45);
  EXPECT_EQ(display.Pitch(), 123);
  EXPECT_EQ(display.BitsPerPixel(), 8);
  // Without a surface nothing reaches SDL.
  EXPECT_EQ(display.Lock(), nullptr);
  EXPECT_TRUE(display.Flip());
  const std::uint8_t rgb[6] = {1, 2, 3, 4, 5, 6};
  EXPECT_TRUE(display.SetPalette(rgb, 0, 2));
  EXPECT_EQ(CallLog().flips, 0);
  EXPECT_EQ(CallLog().palettes, 0);
  EXPECT_EQ(CallLog().locks, 0);
}

TEST_F(SdlDisplayTest, OneSdlLockPerFrameHoweverManyClientsLock) {
  ASSERT_TRUE(display.Init());
  test::FakeSurface& fake = MakeSurface(64, 8, 80, SDL_HWSURFACE);
  SetMustLockMode(fake);
  EXPECT_EQ(display.Pitch(), 80);

  EXPECT_TRUE(display.Unlock());  // nothing held: no SDL call
  EXPECT_EQ(CallLog().unlocks, 0);
  for (int frame = 1; frame <= 3; ++frame) {
    std::uint8_t* first = display.Lock();
    ASSERT_EQ(first, fake.pixels.data());
    display.Unlock();
    EXPECT_EQ(display.Lock(), first);
    EXPECT_EQ(display.Lock(), first);  // the last client forgets to unlock
    EXPECT_EQ(CallLog().locks, frame);
    EXPECT_EQ(CallLog().unlocks, frame - 1);
    display.Flip();
    EXPECT_EQ(CallLog().unlocks, frame);
    EXPECT_EQ(CallLog().flips, frame);
  }
  EXPECT_EQ(CallLog().flipsWhileLocked, 0) << "the surface is unlocked before it is presented";
  display.Flip();  // nothing held: no unlock
  EXPECT_EQ(CallLog().unlocks, 3);
}

TEST_F(SdlDisplayTest, EveryOffsetOrFlagThatNeedsLockingIsHonoured) {
  ASSERT_TRUE(display.Init());
  struct Case {
    Uint32 flags;
    int offset;
    int locks;
  } cases[] = {{0, 0, 0},
               {SDL_HWSURFACE, 0, 1},
               {SDL_ASYNCBLIT, 0, 1},
               {SDL_RLEACCEL, 0, 1},
               {SDL_HWPALETTE | SDL_DOUBLEBUF, 0, 0},
               {0, 16, 1}};
  for (const Case& c : cases) {
    test::FakeSurface& fake = MakeSurface(16, 4, 16, c.flags);
    fake.surface.offset = c.offset;
    SetMustLockMode(fake);
    ASSERT_NE(display.Lock(), nullptr);
    EXPECT_EQ(CallLog().locks, c.locks) << std::hex << c.flags << " offset " << c.offset;
    display.Flip();
    EXPECT_EQ(CallLog().unlocks, c.locks) << std::hex << c.flags << " offset " << c.offset;
  }
}

TEST_F(SdlDisplayTest, LockFailureIsReportedAndTheNextLockTriesAgain) {
  ASSERT_TRUE(display.Init());
  test::FakeSurface& fake = MakeSurface(16, 4, 16, SDL_HWSURFACE);
  SetMustLockMode(fake);
  CallLog().lockResult = -1;
  testing::internal::CaptureStderr();
  EXPECT_EQ(display.Lock(), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr().rfind("Can't lock screen: ", 0), 0u);
  display.Flip();
  EXPECT_EQ(CallLog().unlocks, 0) << "a failed lock is not undone";
  CallLog().lockResult = 0;
  EXPECT_EQ(display.Lock(), fake.pixels.data());
  EXPECT_EQ(CallLog().locks, 2);
}

TEST_F(SdlDisplayTest, PaletteCallsReleaseTheLockAndReachSdl) {
  ASSERT_TRUE(display.Init());
  test::FakeSurface& fake = MakeSurface(16, 4, 16, SDL_HWSURFACE);
  SetMustLockMode(fake);
  std::uint8_t rgb[16 * 3];
  for (int i = 0; i < 48; ++i) rgb[i] = static_cast<std::uint8_t>(200 + i);

  display.Lock();
  EXPECT_TRUE(display.SetPalette(rgb, 16, 32));
  EXPECT_EQ(CallLog().unlocks, 1);
  ASSERT_EQ(CallLog().palettes, 1);
  EXPECT_EQ(CallLog().paletteFirst, 16);
  EXPECT_EQ(CallLog().paletteCount, 16);
  ASSERT_EQ(CallLog().paletteColours.size(), 16u);
  EXPECT_EQ(CallLog().paletteColours[0].r, 200);
  EXPECT_EQ(CallLog().paletteColours[15].b, 247);

  display.Lock();
  std::uint8_t out[3];
  EXPECT_TRUE(display.GetPalette(out, 16, 17));
  EXPECT_EQ(CallLog().unlocks, 2);
  EXPECT_EQ(CallLog().palettes, 1) << "GetPalette reads the shadow only";

  display.Lock();
  EXPECT_TRUE(display.SetPalette(rgb, 40, 40));  // empty: still releases
  EXPECT_EQ(CallLog().unlocks, 3);
  EXPECT_EQ(CallLog().palettes, 1);
}

TEST_F(SdlDisplayTest, PaletteReachesTheRealSurface) {
  ASSERT_TRUE(display.Init());
  testing::internal::CaptureStdout();
  ASSERT_TRUE(display.SetVideoMode(32, 32, 8));
  testing::internal::GetCapturedStdout();
  std::uint8_t rgb[256 * 3];
  for (int i = 0; i < 768; ++i) rgb[i] = static_cast<std::uint8_t>(i * 7);
  EXPECT_TRUE(display.SetPalette(rgb, 0, 256));
  const SDL_Palette* palette = display.Surface()->format->palette;
  ASSERT_NE(palette, nullptr);
  ASSERT_GE(palette->ncolors, 256);
  EXPECT_EQ(palette->colors[0].g, rgb[1]);
  EXPECT_EQ(palette->colors[255].r, rgb[765]);
  EXPECT_EQ(palette->colors[255].b, rgb[767]);
}

TEST_F(SdlDisplayTest, CaptionIsFormattedAndCutAt255Characters) {
  ASSERT_TRUE(display.Init());
  display.SetCaption("/tmp/movie.kiv");
  EXPECT_STREQ(SdlDisplay::Caption(), "/tmp/movie.kiv - KIV Player 3.1");
  char* title = nullptr;
  SDL_WM_GetCaption(&title, nullptr);
  ASSERT_NE(title, nullptr);
  EXPECT_STREQ(title, "/tmp/movie.kiv - KIV Player 3.1");

  const std::string suffix = " - KIV Player 3.1";
  const std::string fits(255 - suffix.size(), 'a');
  display.SetCaption(fits.c_str());
  EXPECT_EQ(std::string(SdlDisplay::Caption()), fits + suffix);

  const std::string longPath(600, 'p');
  display.SetCaption(longPath.c_str());
  EXPECT_EQ(std::string(SdlDisplay::Caption()), std::string(255, 'p'));
}

TEST_F(SdlDisplayTest, InitBuildsTheCursorsAndShowsTheArrow) {
  test::InstallCountingCalls(false);  // the dummy video driver has no cursors
  ASSERT_TRUE(display.Init());
  EXPECT_EQ(CallLog().cursorsCreated, 18);
  for (int slot = 0; slot < kCursorSlots; ++slot) {
    if (slot == 9 || slot == 19) {
      EXPECT_EQ(CursorSlot(slot), nullptr) << slot;
    } else {
      EXPECT_NE(CursorSlot(slot), nullptr) << slot;
    }
  }
  EXPECT_EQ(CurrentCursorIndex(), 2);
  EXPECT_EQ(CallLog().shows, 1);
  EXPECT_EQ(CallLog().lastShow, 1);
  EXPECT_EQ(CallLog().lastCursorSet, CursorSlot(2));
}

TEST_F(SdlDisplayTest, InitReportsWhenSdlCannotStart) {
  setenv("SDL_VIDEODRIVER", "no-such-driver", 1);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(display.Init());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.rfind("Couldn't initialize SDL: ", 0), 0u) << err;
  EXPECT_EQ(CallLog().cursorsCreated, 0);
}

// Contracts shared by both displays. The SDL display refuses a depth and
// keeps its shadow palette before any SDL call, so no SDL is needed here.
template <typename T>
class DisplayContractTest : public ::testing::Test {
 protected:
  T display;
};
using Displays = ::testing::Types<SdlDisplay, MemoryDisplay>;
TYPED_TEST_SUITE(DisplayContractTest, Displays);

TYPED_TEST(DisplayContractTest, RefusedDepthsWriteOneLineAndChangeNothing) {
  for (int bits : {32, 24, 16, 0}) {
    testing::internal::CaptureStderr();
    EXPECT_FALSE(this->display.SetVideoMode(640, 480, bits)) << bits;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), kRefusal) << bits;
    EXPECT_EQ(this->display.Width(), 320);
    EXPECT_EQ(this->display.Height(), 240);
    EXPECT_EQ(this->display.Pitch(), 320);
    EXPECT_EQ(this->display.BitsPerPixel(), 255);
    EXPECT_EQ(this->display.Lock(), nullptr);
  }
}

std::vector<std::uint8_t> Ramp(std::size_t entries, int seed) {
  std::vector<std::uint8_t> rgb(entries * 3);
  for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(seed + 5 * i);
  return rgb;
}

TYPED_TEST(DisplayContractTest, StartsAllZeroAndRoundTrips) {
  std::vector<std::uint8_t> out(768, 0xee);
  EXPECT_TRUE(this->display.GetPalette(out.data(), 0, 256));
  EXPECT_EQ(out, std::vector<std::uint8_t>(768, 0));
  const std::vector<std::uint8_t> rgb = Ramp(256, 1);
  EXPECT_TRUE(this->display.SetPalette(rgb.data(), 0, 256));
  EXPECT_TRUE(this->display.GetPalette(out.data(), 0, 256));
  EXPECT_EQ(out, rgb);
}

TYPED_TEST(DisplayContractTest, PartialRangeTakesTheArrayFromItsStart) {
  const std::vector<std::uint8_t> base = Ramp(256, 3);
  const std::vector<std::uint8_t> patch = Ramp(16, 100);
  this->display.SetPalette(base.data(), 0, 256);
  EXPECT_TRUE(this->display.SetPalette(patch.data(), 16, 32));
  std::vector<std::uint8_t> out(768);
  this->display.GetPalette(out.data(), 0, 256);
  for (int i = 0; i < 256; ++i) {
    const std::uint8_t* expected = (i >= 16 && i < 32) ? &patch[3 * (i - 16)] : &base[3 * i];
    ASSERT_EQ(std::memcmp(&out[3 * i], expected, 3), 0) << "entry " << i;
  }
  std::vector<std::uint8_t> part(16 * 3);
  this->display.GetPalette(part.data(), 16, 32);
  EXPECT_EQ(part, patch);
}

TYPED_TEST(DisplayContractTest, EmptyAndOverlongRangesStayInBounds) {
  const std::vector<std::uint8_t> base = Ramp(256, 9);
  this->display.SetPalette(base.data(), 0, 256);
  EXPECT_TRUE(this->display.SetPalette(base.data() + 3, 32, 16));
  EXPECT_TRUE(this->display.SetPalette(base.data() + 3, 40, 40));
  std::vector<std::uint8_t> untouched(6, 0xab);
  EXPECT_TRUE(this->display.GetPalette(untouched.data(), 20, 20));
  EXPECT_TRUE(this->display.GetPalette(untouched.data(), 300, 2));
  EXPECT_EQ(untouched, std::vector<std::uint8_t>(6, 0xab));
  std::vector<std::uint8_t> out(768);
  this->display.GetPalette(out.data(), 0, 256);
  EXPECT_EQ(out, base);

  // Exactly sized buffers: a copy past entry 255 would overrun them.
  const std::vector<std::uint8_t> tail = Ramp(6, 50);
  EXPECT_TRUE(this->display.SetPalette(tail.data(), 250, 0xffffffffu));
  std::vector<std::uint8_t> back(6 * 3);
  EXPECT_TRUE(this->display.GetPalette(back.data(), 250, 1000));
  EXPECT_EQ(back, tail);
}

TEST(CurrentDisplayTest, ReplacementAndRestore) {
  // Before anything is put in place there is no screen to draw on, and
  // certainly not the SDL window, which may never have been opened.
  Display* fallback = &CurrentDisplay();
  EXPECT_NE(fallback, &TheSdlDisplay());
  EXPECT_EQ(fallback->Lock(), nullptr);
  MemoryDisplay memory;
  SetCurrentDisplay(&memory);
  EXPECT_EQ(&CurrentDisplay(), &memory);
  SetCurrentDisplay(nullptr);
  EXPECT_EQ(&CurrentDisplay(), fallback);
}

}  // namespace
}  // namespace kiv
