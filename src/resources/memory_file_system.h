// A read-only FileSystem over whole files held in memory: the browser's
// dropped file, kivtool's repaired copy. Registered with the ResourceManager
// like the StdioFileSystem, it serves the same names to the same callers.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "resources/file_system.h"

namespace kiv {

class MemoryFileSystem final : public FileSystem {
 public:
  MemoryFileSystem();
  MemoryFileSystem(const MemoryFileSystem&) = delete;
  MemoryFileSystem& operator=(const MemoryFileSystem&) = delete;

  // Holds `bytes` under `name` until the file system goes; the bytes never
  // move while it holds them. A file of that name is replaced (and its open
  // handles closed).
  void Add(const std::string& name, std::vector<std::uint8_t> bytes);
  // The same for bytes that the caller keeps alive while they are held.
  void Add(const std::string& name, ByteSpan bytes);

  // Only "r" modes open; at most 25 files at once, as for StdioFileSystem.
  FileHandle* Open(const char* name, const char* mode) override;
  std::int32_t Close(FileHandle* handle) override;
  std::int32_t Tell(FileHandle* handle) override;
  // A position past the end is refused (nonzero), leaving the position.
  std::int32_t Seek(FileHandle* handle, std::int32_t offset, std::int32_t origin) override;
  std::size_t Read(void* buffer, std::size_t itemSize, std::size_t itemCount, FileHandle* handle) override;
  // The files are read-only: nothing is written.
  std::size_t Write(const void* buffer, std::size_t itemSize, std::size_t itemCount,
                    FileHandle* handle) override;
  bool Contents(const char* name, ByteSpan* bytes) override;

 private:
  struct File {
    std::string name;
    std::vector<std::uint8_t> owned;  // empty for bytes the caller keeps
    ByteSpan bytes;
  };
  struct Cursor {
    const File* file;
    std::size_t position;
  };
  Cursor* CursorOf(FileHandle* handle);
  const File* Find(const char* name) const;

  std::list<File> files_;  // a list: open handles keep pointing at their file
  FileHandle handles_[kMaxOpenFiles];
  Cursor cursors_[kMaxOpenFiles];
};

}  // namespace kiv
