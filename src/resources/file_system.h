// File access by name through replaceable file-system objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "resources/byte_reader.h"

namespace kiv {

// The handle that Open hands out: a record owned by the file system.
struct FileHandle {
  std::int32_t inUse;
  std::int32_t slot;
};

// Seek origins: 0 from the start, 1 from the current position, 2 from the end.
class FileSystem {
 public:
  virtual FileHandle* Open(const char* name, const char* mode) = 0;
  virtual std::int32_t Close(FileHandle* handle) = 0;
  virtual std::int32_t Tell(FileHandle* handle) = 0;
  virtual std::int32_t Seek(FileHandle* handle, std::int32_t offset, std::int32_t origin) = 0;
  virtual std::size_t Read(void* buffer, std::size_t itemSize, std::size_t itemCount, FileHandle* handle) = 0;
  virtual std::size_t Write(const void* buffer, std::size_t itemSize, std::size_t itemCount,
                            FileHandle* handle) = 0;
  // The whole file when this file system holds it in memory (its bytes stay
  // valid while the file system holds the file); false otherwise.
  virtual bool Contents(const char* /*name*/, ByteSpan* /*bytes*/) { return false; }

 protected:
  ~FileSystem() = default;  // destroyed through its own type
};

constexpr int kMaxOpenFiles = 25;

// A FileSystem over the standard library's buffered streams, 25 slots.
class StdioFileSystem final : public FileSystem {
 public:
  StdioFileSystem();
  ~StdioFileSystem();  // closes every stream still open
  StdioFileSystem(const StdioFileSystem&) = delete;
  StdioFileSystem& operator=(const StdioFileSystem&) = delete;

  FileHandle* Open(const char* name, const char* mode) override;
  std::int32_t Close(FileHandle* handle) override;
  std::int32_t Tell(FileHandle* handle) override;
  std::int32_t Seek(FileHandle* handle, std::int32_t offset, std::int32_t origin) override;
  std::size_t Read(void* buffer, std::size_t itemSize, std::size_t itemCount, FileHandle* handle) override;
  std::size_t Write(const void* buffer, std::size_t itemSize, std::size_t itemCount,
                    FileHandle* handle) override;

 private:
  std::FILE* StreamOf(FileHandle* handle) const;

  FileHandle handles_[kMaxOpenFiles];
  std::FILE* streams_[kMaxOpenFiles];
};

}  // namespace kiv
