// Finds the registered file system that can open a name and loads whole files.
#pragma once

#include <cstdint>

#include "resources/file_system.h"

namespace kiv {

constexpr int kMaxFileSystems = 4;

class ResourceManager {
 public:
  ResourceManager();
  // 1 when stored, 0 when all four places are taken. Not owned.
  int RegisterFileSystem(FileSystem* fileSystem);
  // Frees every place that holds fileSystem, before it goes; 1 when one did.
  int UnregisterFileSystem(FileSystem* fileSystem);
  // The first registered file system that opens the name for reading, or null.
  FileSystem* FindFileSystem(const char* name);
  // The whole file in a new buffer (the caller frees it with FreeFile), or
  // null. A caller-supplied buffer must hold the whole file. When size is
  // given it receives the file's length.
  std::uint8_t* LoadFile(const char* name, std::uint8_t* buffer, std::int32_t* size = nullptr);
  int FreeFile(std::uint8_t* buffer);
  // The whole file, when the first registered file system that holds the
  // name in memory is found (no copy is made); false otherwise.
  bool FileInMemory(const char* name, ByteSpan* bytes);

  FileSystem* fileSystems[kMaxFileSystems];
};

// The program-wide resource manager.
ResourceManager& TheResourceManager();

}  // namespace kiv
