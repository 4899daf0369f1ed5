#include "resources/memory_file_system.h"

#include <algorithm>
#include <cstring>

namespace kiv {

MemoryFileSystem::MemoryFileSystem() {
  for (int i = 0; i < kMaxOpenFiles; ++i) {
    handles_[i] = {0, i};
    cursors_[i] = {nullptr, 0};
  }
}

void MemoryFileSystem::Add(const std::string& name, std::vector<std::uint8_t> bytes) {
  Add(name, ByteSpan());
  File& file = files_.back();
  file.owned = std::move(bytes);  // its buffer does not move with it
  file.bytes = file.owned;
}

void MemoryFileSystem::Add(const std::string& name, ByteSpan bytes) {
  // A file replaced closes the handles still open on it.
  for (int i = 0; i < kMaxOpenFiles; ++i) {
    if (cursors_[i].file != nullptr && cursors_[i].file->name == name) {
      cursors_[i] = {nullptr, 0};
      handles_[i].inUse = 0;
    }
  }
  files_.remove_if([&name](const File& file) { return file.name == name; });
  files_.push_back({name, {}, bytes});
}

const MemoryFileSystem::File* MemoryFileSystem::Find(const char* name) const {
  if (name == nullptr) return nullptr;
  for (const File& file : files_) {
    if (file.name == name) return &file;
  }
  return nullptr;
}

MemoryFileSystem::Cursor* MemoryFileSystem::CursorOf(FileHandle* handle) {
  if (handle == nullptr || handle->slot < 0 || handle->slot >= kMaxOpenFiles) return nullptr;
  Cursor& cursor = cursors_[handle->slot];
  return cursor.file != nullptr ? &cursor : nullptr;
}

FileHandle* MemoryFileSystem::Open(const char* name, const char* mode) {
  const File* file = Find(name);
  if (file == nullptr || mode == nullptr || mode[0] != 'r' || std::strchr(mode, '+') != nullptr) return nullptr;
  for (int i = 0; i < kMaxOpenFiles; ++i) {
    if (handles_[i].inUse != 0) continue;
    handles_[i] = {1, i};
    cursors_[i] = {file, 0};
    return &handles_[i];
  }
  return nullptr;
}

std::int32_t MemoryFileSystem::Close(FileHandle* handle) {
  Cursor* cursor = CursorOf(handle);
  if (cursor == nullptr) return -1;
  *cursor = {nullptr, 0};
  handles_[handle->slot].inUse = 0;
  return 0;
}

std::int32_t MemoryFileSystem::Tell(FileHandle* handle) {
  const Cursor* cursor = CursorOf(handle);
  if (cursor == nullptr || cursor->position > INT32_MAX) return -1;
  return static_cast<std::int32_t>(cursor->position);
}

std::int32_t MemoryFileSystem::Seek(FileHandle* handle, std::int32_t offset, std::int32_t origin) {
  Cursor* cursor = CursorOf(handle);
  if (cursor == nullptr) return -1;
  const auto size = static_cast<std::int64_t>(cursor->file->bytes.size());
  std::int64_t base = 0;
  if (origin == 1) base = static_cast<std::int64_t>(cursor->position);
  if (origin == 2) base = size;
  if (origin < 0 || origin > 2) return 1;
  const std::int64_t target = base + offset;
  if (target < 0 || target > size) return 1;
  cursor->position = static_cast<std::size_t>(target);
  return 0;
}

std::size_t MemoryFileSystem::Read(void* buffer, std::size_t itemSize, std::size_t itemCount,
                                   FileHandle* handle) {
  Cursor* cursor = CursorOf(handle);
  if (cursor == nullptr || itemSize == 0) return 0;
  const std::size_t size = cursor->file->bytes.size();
  const std::size_t left = size > cursor->position ? size - cursor->position : 0;
  // Like fread, the bytes of a last partial item are still delivered.
  const std::size_t bytes = itemCount > left / itemSize ? left : itemCount * itemSize;
  if (bytes != 0) std::memcpy(buffer, cursor->file->bytes.data() + cursor->position, bytes);
  cursor->position += bytes;
  return bytes / itemSize;
}

std::size_t MemoryFileSystem::Write(const void*, std::size_t, std::size_t, FileHandle*) { return 0; }

bool MemoryFileSystem::Contents(const char* name, ByteSpan* bytes) {
  const File* file = Find(name);
  if (file == nullptr) return false;
  *bytes = file->bytes;
  return true;
}

}  // namespace kiv
