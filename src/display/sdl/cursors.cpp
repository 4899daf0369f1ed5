#include "display/sdl/cursors.h"

#include <cstddef>
#include <cstdio>
#include <string>

#include "display/sdl/sdl_calls.h"

// The nine shapes, embedded from data/cursors/ in table order.
#define KIV_CURSOR_FILES(X) \
  X(cursor0_crosshair)      \
  X(cursor1_hand)           \
  X(cursor2_arrow)          \
  X(cursor3_wedge)          \
  X(cursor4_frame)          \
  X(cursor5_scissors)       \
  X(cursor6_slanted_box)    \
  X(cursor7_magnifier)      \
  X(cursor8_cloud)

#define KIV_DECLARE_CURSOR_FILE(stem)              \
  extern const unsigned char kData_##stem##_xpm[]; \
  extern const std::size_t kData_##stem##_xpm_size;
KIV_CURSOR_FILES(KIV_DECLARE_CURSOR_FILE)
#undef KIV_DECLARE_CURSOR_FILE

namespace kiv {
namespace {

struct EmbeddedFile {
  const unsigned char* bytes;
  const std::size_t* size;
};

#define KIV_CURSOR_FILE_ENTRY(stem) {kData_##stem##_xpm, &kData_##stem##_xpm_size},
const EmbeddedFile kShapeFiles[kCursorShapes] = {KIV_CURSOR_FILES(KIV_CURSOR_FILE_ENTRY)};
#undef KIV_CURSOR_FILE_ENTRY

// One shape split into its 37 lines; lines missing from the file stay empty.
struct ShapeText {
  std::string lines[kCursorImageLines];
  const char* pointers[kCursorImageLines];

  explicit ShapeText(const EmbeddedFile& file) {
    int line = 0;
    for (std::size_t i = 0; i < *file.size && line < kCursorImageLines; ++i) {
      const char c = static_cast<char>(file.bytes[i]);
      if (c == '\n') {
        ++line;
      } else if (c != '\r') {
        lines[line] += c;
      }
    }
    for (int k = 0; k < kCursorImageLines; ++k) pointers[k] = lines[k].c_str();
  }
};

SDL_Cursor* cursorTable[kCursorSlots] = {};
int currentCursor = -1;

SDL_Cursor* CreateFromImage(const char* const* image, bool inverted) {
  CursorBitmaps bitmaps = DecodeCursorImage(image, inverted);
  return SdlCalls().createCursor(bitmaps.data, bitmaps.mask, kCursorSize, kCursorSize, bitmaps.hotX,
                                 bitmaps.hotY);
}

}  // namespace

CursorBitmaps DecodeCursorImage(const char* const* image, bool inverted) {
  CursorBitmaps bitmaps{};
  if (image == nullptr) return bitmaps;
  const char black = inverted ? '.' : 'X';
  const char white = inverted ? 'X' : '.';
  for (int row = 0; row < kCursorSize; ++row) {
    const char* line = image[kCursorFirstRowLine + row];
    if (line == nullptr) continue;
    for (int column = 0; column < kCursorSize && line[column] != '\0'; ++column) {
      const int byte = row * 4 + column / 8;
      const std::uint8_t bit = static_cast<std::uint8_t>(0x80u >> (column % 8));
      if (line[column] == black) {
        bitmaps.data[byte] |= bit;
        bitmaps.mask[byte] |= bit;
      } else if (line[column] == white) {
        bitmaps.mask[byte] |= bit;
      }
    }
  }
  const char* hotSpot = image[kCursorHotSpotLine];
  if (hotSpot != nullptr) std::sscanf(hotSpot, "%d,%d", &bitmaps.hotX, &bitmaps.hotY);
  return bitmaps;
}

const char* const* CursorShapeImage(int shape) {
  if (shape < 0 || shape >= kCursorShapes) return nullptr;
  static const ShapeText* texts[kCursorShapes] = {};
  if (texts[shape] == nullptr) texts[shape] = new ShapeText(kShapeFiles[shape]);
  return texts[shape]->pointers;
}

SDL_Cursor* BuildCursor(const char* const* image) { return CreateFromImage(image, false); }

SDL_Cursor* BuildInvertedCursor(const char* const* image) { return CreateFromImage(image, true); }

void BuildCursorSet() {
  for (SDL_Cursor*& slot : cursorTable) slot = nullptr;
  for (int k = 0; k < kCursorShapes; ++k) cursorTable[k] = BuildCursor(CursorShapeImage(k));
  for (int k = 0; k < kCursorShapes; ++k) {
    cursorTable[kInvertedCursorOffset + k] = BuildInvertedCursor(CursorShapeImage(k));
  }
  // The new set has nothing on screen yet; the next selection must apply.
  currentCursor = -1;
}

SDL_Cursor* CursorSlot(int slot) {
  if (slot < 0 || slot >= kCursorSlots) return nullptr;
  return cursorTable[slot];
}

void SelectCursor(int index, bool inverted) {
  // Only the nine shapes exist; anything else would read outside the table.
  if (index < 0 || index >= kCursorShapes) return;
  if (currentCursor == -1) SdlCalls().showCursor(SDL_ENABLE);
  if (inverted) index += kInvertedCursorOffset;
  if (index == currentCursor) return;
  SdlCalls().setCursor(cursorTable[index]);
  currentCursor = index;
}

void ForgetCurrentCursor() { currentCursor = -1; }

int CurrentCursorIndex() { return currentCursor; }

}  // namespace kiv
