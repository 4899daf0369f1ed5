// Two-colour 32x32 mouse cursors built from text images (XPM layout, 37 lines:
// 4 header lines, 32 pixel rows, the hot spot "x,y").
#pragma once

#include <cstdint>

struct SDL_Cursor;

namespace kiv {

constexpr int kCursorShapes = 9;
constexpr int kCursorSlots = 20;
constexpr int kCursorImageLines = 37;

// The data and mask bitmaps (32 rows of 4 bytes, leftmost pixel in the top
// bit) and the hot spot that a text image gives, normal or inverted.
struct CursorBitmaps {
  std::uint8_t data[128];
  std::uint8_t mask[128];
  int hotX;
  int hotY;
};
CursorBitmaps DecodeCursorImage(const char* const* image, bool inverted);

SDL_Cursor* BuildCursor(const char* const* image);
SDL_Cursor* BuildInvertedCursor(const char* const* image);
void BuildCursorSet();
// index 0 to 8; others are ignored.
void SelectCursor(int index, bool inverted);
// Sets the current cursor index to -1 (none), as an activation event does.
void ForgetCurrentCursor();
int CurrentCursorIndex();

}  // namespace kiv
