// Shared pieces of the sound tests: SDL's audio driver chosen per test
// through the environment, a file system that counts what it opens, and a
// window handle for the device to bind to.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/win32.h"
#include "resources/file_system.h"

namespace kiv::test {

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// The device only records the window it is bound to; any non-null handle does.
inline HWND TestWindow() { return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x5D)); }

// A StdioFileSystem that counts opens and closes and can cut large reads
// short, as a failing disk would.
class TrackingFileSystem : public FileSystem {
 public:
  FileHandle* Open(const char* name, const char* mode) override {
    FileHandle* handle = files_.Open(name, mode);
    if (handle != nullptr) ++opened;
    return handle;
  }
  std::int32_t Close(FileHandle* handle) override {
    ++closed;
    return files_.Close(handle);
  }
  std::int32_t Tell(FileHandle* handle) override { return files_.Tell(handle); }
  std::int32_t Seek(FileHandle* handle, std::int32_t offset, std::int32_t origin) override {
    return files_.Seek(handle, offset, origin);
  }
  std::size_t Read(void* buffer, std::size_t itemSize, std::size_t itemCount, FileHandle* handle) override {
    if (readLimit != 0 && itemSize * itemCount > readLimit) itemCount = readLimit / itemSize;
    return files_.Read(buffer, itemSize, itemCount, handle);
  }
  std::size_t Write(const void* buffer, std::size_t itemSize, std::size_t itemCount, FileHandle* handle) override {
    return files_.Write(buffer, itemSize, itemCount, handle);
  }

  int opened = 0;
  int closed = 0;
  std::size_t readLimit = 0;  // 0: no limit

 private:
  StdioFileSystem files_;
};

}  // namespace kiv::test
