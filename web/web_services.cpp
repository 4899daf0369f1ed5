#include "web/web_services.h"

#include <emscripten.h>

#include <cstdio>
#include <new>

#include "app/main_window.h"
#include "resources/resource_manager.h"

namespace kiv::web {

// The page shows the message in place of the screen; the player stays usable.
void WebServices::ShowMessage(const char* text, const char* caption, UINT) {
  std::fprintf(stderr, "%s: %s\n", caption, text);
  EM_ASM({ Module.onMessage(UTF8ToString($0), UTF8ToString($1)); }, caption, text);
}

// The class outlives one file: the page opens file after file in one module.
int WebServices::RegisterMainClass(HINSTANCE module) {
  if (classRegistered_) return 1;
  classRegistered_ = kiv::RegisterMainClass(module) != 0;
  return classRegistered_ ? 1 : 0;
}

void WebServices::DestroyMainWindow(HWND window) { DestroyWindow(window); }

std::uint8_t* WebServices::PrepareFile(std::size_t size) {
  // Left as it comes (the page fills it at once): clearing a large file's
  // room first would cost a long task. One byte at least, so that even an
  // empty file has an address.
  fileBytes_.reset(new (std::nothrow) std::uint8_t[size > 0 ? size : 1]);
  fileSize_ = fileBytes_ ? size : 0;
  return fileBytes_.get();
}

// The page's file is read from memory, where the page put it: the player
// reads it under the name it was given, as a desktop player reads a path.
void WebServices::CreateFileSystem() {
  fileSystem_.emplace();
  fileSystem_->Add(fileName_, ByteSpan(fileBytes_.get(), fileSize_));
  TheResourceManager().RegisterFileSystem(&*fileSystem_);
}

// The page opens file after file: the place is freed again, or the manager
// would keep a dangling pointer and run out of places after four files.
void WebServices::DestroyFileSystem() {
  if (fileSystem_) TheResourceManager().UnregisterFileSystem(&*fileSystem_);
  fileSystem_.reset();
  DropFile();
}

bool WebServices::DisplayInit() {
  SetCurrentDisplay(display_);
  return display_->Init();
}

bool WebServices::DisplayShutdown() { return display_->Shutdown(); }

bool WebServices::SetVideoMode(std::int32_t width, std::int32_t height, std::int32_t bitsPerPixel) {
  return display_->SetVideoMode(width, height, bitsPerPixel);
}

void WebServices::SetCaption(const char* path) {
  char caption[256];
  FormatCaption(caption, sizeof caption, path);
  EM_ASM({ Module.onCaption(UTF8ToString($0)); }, caption);
}

}  // namespace kiv::web
