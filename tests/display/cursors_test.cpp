#include "display/sdl/cursors.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <cstring>
#include <string>

#include "display/counting_sdl.h"

namespace kiv {
namespace {

using test::CallLog;

bool Bit(const std::uint8_t* bitmap, int row, int column) {
  return (bitmap[row * 4 + column / 8] >> (7 - column % 8)) & 1;
}

// The arrow as it must look; rows 19 to 31 are empty.
const char* const kArrow[] = {
    "X",          "XX",        "X.X",       "X..X",      "X...X",      "X....X",   "X.....X",
    "X......X",   "X.......X", "X........X", "X.....XXXXX", "X..X..X", "X.X X..X", "XX  X..X",
    "X    X..X",  "     X..X", "      X..X", "      X..X", "       XX"};

TEST(CursorImageTest, ArrowBitmapsRowByRow) {
  const CursorBitmaps normal = DecodeCursorImage(CursorShapeImage(kArrowCursor), false);
  const CursorBitmaps inverted = DecodeCursorImage(CursorShapeImage(kArrowCursor), true);
  for (int row = 0; row < kCursorSize; ++row) {
    const std::string art = row < 19 ? kArrow[row] : "";
    for (int column = 0; column < kCursorSize; ++column) {
      const char c = column < static_cast<int>(art.size()) ? art[column] : ' ';
      SCOPED_TRACE(testing::Message() << "row " << row << " column " << column);
      ASSERT_EQ(Bit(normal.mask, row, column), c != ' ');
      ASSERT_EQ(Bit(normal.data, row, column), c == 'X');
      ASSERT_EQ(Bit(inverted.mask, row, column), c != ' ');
      ASSERT_EQ(Bit(inverted.data, row, column), c == '.');
    }
  }
  // Leftmost pixel in the top bit: bytes worked out by hand.
  EXPECT_EQ(normal.data[2 * 4], 0xa0);  // row 2 "X.X"
  EXPECT_EQ(normal.mask[2 * 4], 0xe0);
  EXPECT_EQ(inverted.data[2 * 4], 0x40);
  EXPECT_EQ(normal.data[12 * 4], 0xa9);  // row 12 "X.X X..X"
  EXPECT_EQ(normal.mask[12 * 4], 0xef);
  EXPECT_EQ(normal.data[18 * 4 + 1], 0x80);  // row 18 "       XX"
  EXPECT_EQ(normal.hotX, 0);
  EXPECT_EQ(normal.hotY, 0);
}

TEST(CursorImageTest, EveryShapeKeepsToItsRowsAndHotSpot) {
  struct Shape {
    int hotX, hotY, firstRow, lastRow;
  } const shapes[kCursorShapes] = {{15, 14, 6, 22},  {14, 16, 7, 23}, {0, 0, 0, 18},
                                   {9, 10, 9, 20},   {10, 10, 9, 22}, {15, 16, 6, 25},
                                   {16, 16, 9, 22},  {15, 12, 5, 25}, {15, 15, 0, 30}};
  EXPECT_EQ(CursorShapeImage(-1), nullptr);
  EXPECT_EQ(CursorShapeImage(kCursorShapes), nullptr);
  for (int k = 0; k < kCursorShapes; ++k) {
    SCOPED_TRACE(testing::Message() << "shape " << k);
    const char* const* image = CursorShapeImage(k);
    ASSERT_NE(image, nullptr);
    EXPECT_STREQ(image[0], "    32    32        3            1");
    int first = -1, last = -1, black = 0, white = 0;
    for (int row = 0; row < kCursorSize; ++row) {
      const std::string line = image[kCursorFirstRowLine + row];
      ASSERT_EQ(line.size(), 32u) << "row " << row;
      ASSERT_EQ(line.find_first_not_of("X. "), std::string::npos) << "row " << row;
      if (line.find_first_not_of(' ') != std::string::npos) {
        if (first < 0) first = row;
        last = row;
      }
      for (char c : line) {
        black += c == 'X';
        white += c == '.';
      }
    }
    EXPECT_EQ(first, shapes[k].firstRow);
    EXPECT_EQ(last, shapes[k].lastRow);
    EXPECT_GT(black, 10);
    EXPECT_GT(white, 10);
    const CursorBitmaps bitmaps = DecodeCursorImage(image, false);
    EXPECT_EQ(bitmaps.hotX, shapes[k].hotX);
    EXPECT_EQ(bitmaps.hotY, shapes[k].hotY);
  }
}

TEST(CursorImageTest, OtherCharactersAndShortLinesAreTransparent) {
  std::string lines[kCursorImageLines];
  lines[kCursorFirstRowLine] = "X\t.?x#";
  lines[kCursorFirstRowLine + 1] = "..";  // short: the rest is transparent
  lines[kCursorHotSpotLine] = "31,7";
  const char* image[kCursorImageLines];
  for (int i = 0; i < kCursorImageLines; ++i) image[i] = lines[i].c_str();
  image[kCursorFirstRowLine + 2] = nullptr;  // a missing line reads as empty

  const CursorBitmaps bitmaps = DecodeCursorImage(image, false);
  EXPECT_EQ(bitmaps.data[0], 0x80);
  EXPECT_EQ(bitmaps.mask[0], 0xa0);  // X, tab, . : only the first and third count
  EXPECT_EQ(bitmaps.mask[4], 0xc0);
  EXPECT_EQ(bitmaps.data[4], 0x00);
  for (int i = 8; i < 128; ++i) ASSERT_EQ(bitmaps.mask[i], 0) << i;
  EXPECT_EQ(bitmaps.hotX, 31);
  EXPECT_EQ(bitmaps.hotY, 7);

  lines[kCursorHotSpotLine] = "garbage";
  image[kCursorHotSpotLine] = lines[kCursorHotSpotLine].c_str();
  const CursorBitmaps noHotSpot = DecodeCursorImage(image, false);
  EXPECT_EQ(noHotSpot.hotX, 0);
  EXPECT_EQ(noHotSpot.hotY, 0);
  EXPECT_EQ(DecodeCursorImage(nullptr, true).mask[0], 0);
}

class CursorSelectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::InstallCountingCalls(false);  // stand-in handles, nothing reaches SDL
    BuildCursorSet();
  }
  void TearDown() override {
    test::RestoreSdlCalls();
    ForgetCurrentCursor();
  }
};

TEST_F(CursorSelectionTest, SetFillsNormalThenInvertedSlots) {
  EXPECT_EQ(CallLog().cursorsCreated, 18);
  EXPECT_EQ(CursorSlot(9), nullptr);
  EXPECT_EQ(CursorSlot(19), nullptr);
  EXPECT_EQ(CursorSlot(-1), nullptr);
  EXPECT_EQ(CursorSlot(20), nullptr);
  for (int slot = 0; slot < kCursorSlots; ++slot) {
    if (slot == 9 || slot == 19) continue;
    ASSERT_NE(CursorSlot(slot), nullptr) << slot;
    for (int other = 0; other < slot; ++other) {
      ASSERT_NE(CursorSlot(slot), CursorSlot(other)) << slot << " " << other;
    }
  }
  EXPECT_EQ(CurrentCursorIndex(), -1);
}

TEST_F(CursorSelectionTest, SelectionIsCachedUntilForgotten) {
  SelectCursor(2, false);
  EXPECT_EQ(CallLog().shows, 1);
  EXPECT_EQ(CallLog().lastShow, SDL_ENABLE);
  EXPECT_EQ(CallLog().cursorsSet, 1);
  EXPECT_EQ(CallLog().lastCursorSet, CursorSlot(2));
  EXPECT_EQ(CurrentCursorIndex(), 2);

  SelectCursor(2, false);  // already shown: no SDL call
  EXPECT_EQ(CallLog().shows, 1);
  EXPECT_EQ(CallLog().cursorsSet, 1);

  SelectCursor(2, true);  // the inverted arrow lives in slot 12
  EXPECT_EQ(CallLog().cursorsSet, 2);
  EXPECT_EQ(CallLog().lastCursorSet, CursorSlot(12));
  EXPECT_EQ(CurrentCursorIndex(), 12);
  EXPECT_EQ(CallLog().shows, 1);

  SelectCursor(7, false);
  EXPECT_EQ(CallLog().lastCursorSet, CursorSlot(7));

  ForgetCurrentCursor();  // as after an activation event
  EXPECT_EQ(CurrentCursorIndex(), -1);
  SelectCursor(7, false);
  EXPECT_EQ(CallLog().shows, 2);
  EXPECT_EQ(CallLog().cursorsSet, 4);
  EXPECT_EQ(CurrentCursorIndex(), 7);
}

TEST_F(CursorSelectionTest, IndicesOutsideTheShapesAreIgnored) {
  SelectCursor(3, false);
  const int sets = CallLog().cursorsSet;
  for (int index : {-1, 9, 10, 19, 1000, -100}) {
    SelectCursor(index, false);
    SelectCursor(index, true);
  }
  EXPECT_EQ(CallLog().cursorsSet, sets);
  EXPECT_EQ(CurrentCursorIndex(), 3);
  ForgetCurrentCursor();
  SelectCursor(9, false);
  EXPECT_EQ(CallLog().shows, 1) << "an ignored index shows nothing";
  EXPECT_EQ(CurrentCursorIndex(), -1);
}

}  // namespace
}  // namespace kiv
