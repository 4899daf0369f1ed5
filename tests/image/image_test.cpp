#include "image/image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "display/display.h"
#include "resources/resource_manager.h"
#include "resources/temp_dir.h"

namespace kiv {
namespace {

// Picture file bytes: big-endian size at 8, palette at 32, pixels at 800.
std::string PictureFile(int width, int height, const std::vector<std::uint8_t>& pixels,
                        std::uint8_t paletteSeed = 0) {
  std::string bytes(800, '\0');
  bytes[8] = static_cast<char>(width >> 8);
  bytes[9] = static_cast<char>(width & 0xff);
  bytes[10] = static_cast<char>(height >> 8);
  bytes[11] = static_cast<char>(height & 0xff);
  for (int i = 0; i < 768; ++i) bytes[32 + i] = static_cast<char>(i * 3 + paletteSeed);
  bytes.append(pixels.begin(), pixels.end());
  return bytes;
}

class ImageTest : public ::testing::Test {
 protected:
  ImageTest() : display(13) {  // a pitch wider than the screen catches pitch mix-ups
    resources.RegisterFileSystem(&files);
    display.SetVideoMode(320, 240, 8);
  }

  // Loads a width x height Image whose pixel (i, j) is value(i, j).
  template <typename Value>
  void Load(Image& image, int width, int height, Value value) {
    std::vector<std::uint8_t> pixels;
    for (int j = 0; j < height; ++j)
      for (int i = 0; i < width; ++i) pixels.push_back(static_cast<std::uint8_t>(value(i, j)));
    ASSERT_EQ(image.LoadFromFile(dir.Write("p.pic", PictureFile(width, height, pixels)).c_str()), 1);
  }

  // The screen expected after drawing the (srcX, srcY, w, h) region of the
  // Image at its position, pixel by pixel: values below firstOpaque and
  // places outside the Image or the screen change nothing.
  std::vector<std::uint8_t> Expected(const Image& image, const std::vector<std::uint8_t>& before,
                                     int srcX, int srcY, int w, int h, int firstOpaque) {
    std::vector<std::uint8_t> screen = before;
    for (int j = 0; j < h; ++j) {
      for (int i = 0; i < w; ++i) {
        const int sx = srcX + i, sy = srcY + j;
        const int dx = image.X() + i, dy = image.Y() + j;
        if (sx < 0 || sy < 0 || sx >= image.Width() || sy >= image.Height()) continue;
        if (dx < 0 || dy < 0 || dx >= 320 || dy >= 240) continue;
        const std::uint8_t v = image.Pixels()[sy * image.Width() + sx];
        if (v >= firstOpaque) screen[dy * display.Pitch() + dx] = v;
      }
    }
    return screen;
  }

  void Fill(std::uint8_t value) {
    std::uint8_t* p = display.Lock();
    std::fill(p, p + display.Pitch() * display.Height(), value);
  }

  testing::TempDir dir;
  StdioFileSystem files;
  ResourceManager resources;
  MemoryDisplay display;
};

TEST_F(ImageTest, LoadFromFileReadsSizePaletteAndPixels) {
  Image image(&resources, &display);
  std::vector<std::uint8_t> pixels(320 * 240, 5);
  pixels[0] = 9;
  pixels.back() = 11;
  std::string file = PictureFile(320, 240, pixels, 1);
  ASSERT_EQ(file.substr(8, 4), std::string("\x01\x40\x00\xF0", 4));
  image.SetPosition(7, 7);
  ASSERT_EQ(image.LoadFromFile(dir.Write("a.pic", file).c_str()), 1);
  EXPECT_EQ(image.Width(), 320);
  EXPECT_EQ(image.Height(), 240);
  EXPECT_EQ(image.X(), 0);
  EXPECT_EQ(image.Y(), 0);
  EXPECT_EQ(image.Pixels()[0], 9);
  EXPECT_EQ(image.Pixels()[320 * 240 - 1], 11);
  EXPECT_EQ(image.Palette()[0], 1);
  EXPECT_EQ(image.Palette()[767], static_cast<std::uint8_t>(767 * 3 + 1));

  EXPECT_EQ(image.ApplyPalette(), 1);
  EXPECT_EQ(std::vector<std::uint8_t>(display.Palette(), display.Palette() + 768),
            std::vector<std::uint8_t>(image.Palette(), image.Palette() + 768));

  // Loading another picture replaces the first (the leak check sees the old buffer go).
  Load(image, 4, 2, [](int, int) { return 3; });
  EXPECT_EQ(image.Width(), 4);
  EXPECT_EQ(image.Free(), 1);
  EXPECT_EQ(image.Pixels(), nullptr);
  EXPECT_EQ(image.Width(), 0);
  EXPECT_EQ(image.Free(), 1);  // on an empty Image
}

TEST_F(ImageTest, ShortOrMissingFilesAreRefused) {
  Image image(&resources, &display);
  EXPECT_EQ(image.LoadFromFile(dir.File("missing.pic").c_str()), 0);
  // One pixel short of 10 x 10.
  std::string shortFile = PictureFile(10, 10, std::vector<std::uint8_t>(99, 4));
  EXPECT_EQ(image.LoadFromFile(dir.Write("short.pic", shortFile).c_str()), 0);
  EXPECT_EQ(image.LoadFromFile(dir.Write("tiny.pic", std::string(100, '\1')).c_str()), 0);
  EXPECT_EQ(image.Pixels(), nullptr);
  EXPECT_EQ(image.Width(), 0);

  // A loaded Image keeps its picture when a later load fails.
  Load(image, 3, 3, [](int i, int j) { return 2 + i + j; });
  EXPECT_EQ(image.LoadFromFile(dir.Write("short2.pic", shortFile).c_str()), 0);
  EXPECT_EQ(image.Width(), 3);
  EXPECT_EQ(image.Pixels()[8], 6);
  // An exact-size 0 x 0 picture is a valid, empty one.
  EXPECT_EQ(image.LoadFromFile(dir.Write("empty.pic", PictureFile(0, 0, {})).c_str()), 1);
  EXPECT_EQ(image.Draw(), 1);
}

TEST_F(ImageTest, DrawClipsOnAllFourEdges) {
  Image image(&resources, &display);
  Load(image, 8, 8, [](int i, int j) { return 10 + 8 * j + i; });
  Fill(1);
  image.SetPosition(-4, -4);
  EXPECT_EQ(image.Draw(), 1);
  for (int j = 0; j < 6; ++j) {
    for (int i = 0; i < 6; ++i) {
      const int expected = (i < 4 && j < 4) ? 10 + 8 * (j + 4) + (i + 4) : 1;
      EXPECT_EQ(display.PixelAt(i, j), expected) << i << "," << j;
    }
  }

  Load(image, 20, 12, [](int i, int j) { return 1 + (i * 7 + j * 3) % 250; });
  const struct {
    int x, y;
  } places[] = {{310, 5}, {5, 232}, {-15, 100}, {100, -9}, {315, 235}, {-19, -11},
                {320, 0}, {0, 240}, {-20, 0}, {0, -12}, {150, 100}};
  for (const auto& place : places) {
    Fill(0);
    std::vector<std::uint8_t> before = display.Pixels();
    image.SetPosition(place.x, place.y);
    EXPECT_EQ(image.Draw(), 1);
    EXPECT_EQ(display.Pixels(), Expected(image, before, 0, 0, 20, 12, 1))
        << "at " << place.x << "," << place.y;
  }
  // Width 20 at x = 310 shows its left 10 columns, and no more.
  Fill(0);
  image.SetPosition(310, 0);
  image.Draw();
  EXPECT_EQ(display.PixelAt(319, 0), image.Pixels()[9]);
  EXPECT_EQ(display.PixelAt(0, 1), 0);  // nothing wrapped into the next row
}

TEST_F(ImageTest, TransparentIndices) {
  Image image(&resources, &display);
  Load(image, 4, 1, [](int i, int) { return i; });  // 0 1 2 3
  Fill(99);
  image.SetPosition(0, 0);
  image.Draw();
  EXPECT_EQ(display.PixelAt(0, 0), 99);
  EXPECT_EQ(display.PixelAt(1, 0), 1);
  EXPECT_EQ(display.PixelAt(2, 0), 2);
  Fill(99);
  EXPECT_EQ(image.DrawRegion(0, 0, 4, 1), 1);
  EXPECT_EQ(display.PixelAt(0, 0), 99);
  EXPECT_EQ(display.PixelAt(1, 0), 99);
  EXPECT_EQ(display.PixelAt(2, 0), 2);
  EXPECT_EQ(display.PixelAt(3, 0), 3);
}

TEST_F(ImageTest, DrawRegionStaysInsideTheImageAndTheScreen) {
  Image image(&resources, &display);
  Load(image, 30, 20, [](int i, int j) { return 2 + (i + 31 * j) % 254; });
  const struct {
    int x, y, srcX, srcY, w, h;
  } cases[] = {
      {10, 20, 5, 3, 8, 8},    {316, 236, 0, 0, 8, 8},  {-3, -2, 4, 4, 8, 8},
      {50, 50, 25, 15, 8, 8},  {50, 50, -4, -3, 10, 10}, {50, 50, 28, 0, 100, 100},
      {0, 0, 30, 0, 5, 5},     {0, 0, 0, 20, 5, 5},     {0, 0, 2, 2, -4, 5},
      {0, 0, -100, -100, 50, 50},
  };
  for (const auto& c : cases) {
    Fill(0);
    std::vector<std::uint8_t> before = display.Pixels();
    image.SetPosition(c.x, c.y);
    EXPECT_EQ(image.DrawRegion(c.srcX, c.srcY, c.w, c.h), 1);
    EXPECT_EQ(display.Pixels(), Expected(image, before, c.srcX, c.srcY, c.w, c.h, 2))
        << c.x << "," << c.y << " region " << c.srcX << "," << c.srcY << " " << c.w << "x" << c.h;
  }
}

TEST_F(ImageTest, NoScreenOrNoPicture) {
  MemoryDisplay closed;  // no mode set: Lock gives null
  Image image(&resources, &closed);
  EXPECT_EQ(image.Draw(), 0);
  Load(image, 2, 2, [](int, int) { return 5; });
  EXPECT_EQ(image.Draw(), 0);
  EXPECT_EQ(image.DrawRegion(0, 0, 2, 2), 0);

  Image empty(&resources, &display);
  Fill(7);
  std::vector<std::uint8_t> before = display.Pixels();
  EXPECT_EQ(empty.Draw(), 1);
  EXPECT_EQ(empty.DrawRegion(0, 0, 8, 8), 1);
  EXPECT_EQ(display.Pixels(), before);
}

}  // namespace
}  // namespace kiv
