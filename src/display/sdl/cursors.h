// Two-colour 32x32 mouse cursors built from text images (XPM layout, 37 lines:
// 4 header lines, 32 pixel rows, the hot spot "x,y").
#pragma once

#include <cstdint>

struct SDL_Cursor;

namespace kiv {

constexpr int kCursorShapes = 9;
constexpr int kCursorSlots = 20;
constexpr int kCursorImageLines = 37;
constexpr int kCursorSize = 32;
constexpr int kCursorFirstRowLine = 4;
constexpr int kCursorHotSpotLine = 36;
constexpr int kInvertedCursorOffset = 10;
constexpr int kArrowCursor = 2;

// The data and mask bitmaps (32 rows of 4 bytes, leftmost pixel in the top
// bit) and the hot spot that a text image gives, normal or inverted.
// `image` holds 37 lines; a null or short line reads as transparent (a null
// image as an empty cursor).
struct CursorBitmaps {
  std::uint8_t data[128];
  std::uint8_t mask[128];
  int hotX;
  int hotY;
};
CursorBitmaps DecodeCursorImage(const char* const* image, bool inverted);

// The built-in text image of shape 0 to 8 (37 lines, split from the embedded
// file once and kept for the program's lifetime); null for other shapes.
const char* const* CursorShapeImage(int shape);

// SDL cursor handles (null if SDL refuses); SDL owns them until it ends.
SDL_Cursor* BuildCursor(const char* const* image);
// Black and white swapped.
SDL_Cursor* BuildInvertedCursor(const char* const* image);
// Slots 0-8 normal, 10-18 inverted, 9 and 19 null. Nothing is shown yet
// afterwards: the current index returns to -1.
void BuildCursorSet();
// The handle in table slot 0 to 19 (null outside).
SDL_Cursor* CursorSlot(int slot);
// index 0 to 8; others are ignored.
void SelectCursor(int index, bool inverted);
// Sets the current cursor index to -1 (none), as an activation event does.
void ForgetCurrentCursor();
int CurrentCursorIndex();

}  // namespace kiv
