#include "resources/resource_manager.h"

#include <new>

namespace kiv {

ResourceManager::ResourceManager() {
  for (FileSystem*& place : fileSystems) {
    place = nullptr;
  }
}

int ResourceManager::RegisterFileSystem(FileSystem* fileSystem) {
  for (FileSystem*& place : fileSystems) {
    if (place == nullptr) {
      place = fileSystem;
      return 1;
    }
  }
  return 0;
}

int ResourceManager::UnregisterFileSystem(FileSystem* fileSystem) {
  int found = 0;
  for (FileSystem*& place : fileSystems) {
    if (place == fileSystem && place != nullptr) {
      place = nullptr;
      found = 1;
    }
  }
  return found;
}

bool ResourceManager::FileInMemory(const char* name, ByteSpan* bytes) {
  for (FileSystem* fileSystem : fileSystems) {
    if (fileSystem != nullptr && fileSystem->Contents(name, bytes)) return true;
  }
  return false;
}

FileSystem* ResourceManager::FindFileSystem(const char* name) {
  if (name == nullptr) {
    return nullptr;
  }
  for (FileSystem* fileSystem : fileSystems) {
    if (fileSystem == nullptr) {
      continue;
    }
    FileHandle* handle = fileSystem->Open(name, "rb");
    if (handle != nullptr) {
      fileSystem->Close(handle);
      return fileSystem;
    }
  }
  return nullptr;
}

std::uint8_t* ResourceManager::LoadFile(const char* name, std::uint8_t* buffer, std::int32_t* size) {
  if (name == nullptr) {
    return nullptr;
  }
  FileSystem* fileSystem = nullptr;
  FileHandle* handle = nullptr;
  for (FileSystem* candidate : fileSystems) {
    if (candidate == nullptr) {
      continue;
    }
    handle = candidate->Open(name, "rb");
    if (handle != nullptr) {
      fileSystem = candidate;
      break;
    }
  }
  if (handle == nullptr) {
    return nullptr;
  }

  // A stream that cannot seek or tell (a pipe, a file past 2 GiB) has no
  // size we can trust: fail instead of allocating from -1.
  std::int32_t length = -1;
  if (fileSystem->Seek(handle, 0, 2) == 0) {
    length = fileSystem->Tell(handle);
  }
  if (length < 0 || fileSystem->Seek(handle, 0, 0) != 0) {
    fileSystem->Close(handle);
    return nullptr;
  }

  std::uint8_t* data = buffer;
  if (data == nullptr) {
    data = new (std::nothrow) std::uint8_t[static_cast<std::size_t>(length)];
    if (data == nullptr) {
      fileSystem->Close(handle);
      return nullptr;
    }
  }
  const std::size_t wanted = static_cast<std::size_t>(length);
  if (fileSystem->Read(data, 1, wanted, handle) < wanted) {
    if (buffer == nullptr) {
      delete[] data;
    }
    fileSystem->Close(handle);
    return nullptr;
  }
  fileSystem->Close(handle);
  if (size != nullptr) {
    *size = length;
  }
  return data;
}

int ResourceManager::FreeFile(std::uint8_t* buffer) {
  delete[] buffer;
  return 1;
}

ResourceManager& TheResourceManager() {
  static ResourceManager manager;
  return manager;
}

}  // namespace kiv
