#include "resources/file_system.h"

#include <climits>

namespace kiv {

StdioFileSystem::StdioFileSystem() {
  for (int i = 0; i < kMaxOpenFiles; ++i) {
    handles_[i].inUse = 0;
    handles_[i].slot = i;
    streams_[i] = nullptr;
  }
}

StdioFileSystem::~StdioFileSystem() {
  for (int i = 0; i < kMaxOpenFiles; ++i) {
    if (handles_[i].inUse != 0 && streams_[i] != nullptr) {
      std::fclose(streams_[i]);
    }
    streams_[i] = nullptr;
    handles_[i].inUse = 0;
  }
}

// The stream behind a handle, or null for a null handle, a slot out of range
// or a slot with nothing open.
std::FILE* StdioFileSystem::StreamOf(FileHandle* handle) const {
  if (handle == nullptr || handle->slot < 0 || handle->slot >= kMaxOpenFiles) {
    return nullptr;
  }
  return streams_[handle->slot];
}

FileHandle* StdioFileSystem::Open(const char* name, const char* mode) {
  if (name == nullptr || mode == nullptr) {
    return nullptr;
  }
  for (int i = 0; i < kMaxOpenFiles; ++i) {
    FileHandle& record = handles_[i];
    if (record.inUse != 0) {
      continue;
    }
    record.slot = i;
    streams_[i] = std::fopen(name, mode);
    if (streams_[i] == nullptr) {
      record.inUse = 0;
      return nullptr;
    }
    record.inUse = 1;
    return &record;
  }
  return nullptr;
}

std::int32_t StdioFileSystem::Close(FileHandle* handle) {
  std::FILE* stream = StreamOf(handle);
  if (stream == nullptr) {
    return -1;
  }
  std::fclose(stream);
  streams_[handle->slot] = nullptr;
  handles_[handle->slot].inUse = 0;
  return 0;
}

std::int32_t StdioFileSystem::Tell(FileHandle* handle) {
  std::FILE* stream = StreamOf(handle);
  if (stream == nullptr) {
    return -1;
  }
  long position = std::ftell(stream);
  // A position past 2 GiB cannot be told in 32 bits: report it as an error
  // rather than as a wrong (possibly negative) size.
  if (position < 0 || position > INT32_MAX) {
    return -1;
  }
  return static_cast<std::int32_t>(position);
}

std::int32_t StdioFileSystem::Seek(FileHandle* handle, std::int32_t offset, std::int32_t origin) {
  std::FILE* stream = StreamOf(handle);
  if (stream == nullptr) {
    return -1;
  }
  static_assert(SEEK_SET == 0 && SEEK_CUR == 1 && SEEK_END == 2, "seek origins pass straight through");
  return std::fseek(stream, offset, origin);
}

std::size_t StdioFileSystem::Read(void* buffer, std::size_t itemSize, std::size_t itemCount,
                                  FileHandle* handle) {
  std::FILE* stream = StreamOf(handle);
  if (stream == nullptr) {
    return 0;
  }
  return std::fread(buffer, itemSize, itemCount, stream);
}

std::size_t StdioFileSystem::Write(const void* buffer, std::size_t itemSize, std::size_t itemCount,
                                   FileHandle* handle) {
  std::FILE* stream = StreamOf(handle);
  if (stream == nullptr) {
    return 0;
  }
  return std::fwrite(buffer, itemSize, itemCount, stream);
}

}  // namespace kiv
