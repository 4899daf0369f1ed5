#include "resources/directory_lister.h"

#include <cctype>
#include <cstring>

#include "platform/find_file.h"

namespace kiv {

std::uint32_t LastEntrySize = 0;
std::int32_t LastEntryWriteTime = 0;

namespace {

bool IsDirectory(const _finddata_t& entry) {
  return (entry.attrib & _A_SUBDIR) != 0;
}

}  // namespace

// Walks from the entry in hand to the first of the wanted kind; closes the
// search when it runs out.
char* WinDirectoryLister::Settle(std::intptr_t& search, _finddata_t& entry, bool wantDirectories) {
  while (IsDirectory(entry) != wantDirectories) {
    if (_findnext(search, &entry) != 0) {
      _findclose(search);
      search = kNoSearch;
      return nullptr;
    }
  }
  // Both hold a path component of at most 259 characters; the last byte is
  // forced to end the text whatever the search left there.
  static_assert(sizeof(name_) == sizeof(entry.name));
  std::memcpy(name_, entry.name, sizeof(name_));
  name_[sizeof(name_) - 1] = '\0';
  LastEntrySize = entry.size;
  LastEntryWriteTime = entry.time_write;
  return name_;
}

char* WinDirectoryLister::Start(std::intptr_t& search, const char* pattern, bool wantDirectories) {
  // A search abandoned by a new start is closed, not leaked.
  if (search != kNoSearch) {
    _findclose(search);
    search = kNoSearch;
  }
  _finddata_t entry;
  search = _findfirst(pattern, &entry);
  if (search == -1) {
    search = kNoSearch;
    return nullptr;
  }
  return Settle(search, entry, wantDirectories);
}

char* WinDirectoryLister::Continue(std::intptr_t& search, bool wantDirectories) {
  if (search == kNoSearch) {
    return nullptr;
  }
  _finddata_t entry;
  if (_findnext(search, &entry) != 0) {
    _findclose(search);
    search = kNoSearch;
    return nullptr;
  }
  return Settle(search, entry, wantDirectories);
}

char* WinDirectoryLister::FirstDirectory(const char* pattern) {
  return Start(directorySearch_, pattern, true);
}

char* WinDirectoryLister::NextDirectory() {
  return Continue(directorySearch_, true);
}

char* WinDirectoryLister::FirstFile(const char* pattern) {
  return Start(fileSearch_, pattern, false);
}

char* WinDirectoryLister::NextFile() {
  return Continue(fileSearch_, false);
}

std::int32_t WinDirectoryLister::Reserved5(const char* /*argument*/) {
  return 0;
}

std::int32_t WinDirectoryLister::PathDepth(const char* path) {
  if (path == nullptr || path[0] == '\0' || path[1] != ':') {
    return 0;
  }
  const std::size_t length = std::strlen(path);
  std::int32_t count = 0;
  // Index 2 would be the backslash of the drive's root: not counted.
  for (std::size_t i = 3; i < length; ++i) {
    if (path[i] == '\\') {
      ++count;
    }
  }
  if (path[length - 1] == '\\') {
    --count;
  }
  return count;
}

bool WinDirectoryLister::ChangeDrive(const char* path) {
  if (path == nullptr) {
    return false;
  }
  const int drive = std::toupper(static_cast<unsigned char>(path[0])) - 64;
  return _chdrive(drive) == 0;
}

bool WinDirectoryLister::ChangeDirectory(const char* path) {
  _chdir(path);
  return true;
}

bool WinDirectoryLister::Reserved9(const char* /*argument*/) {
  return false;
}

bool WinDirectoryLister::Reserved10(const char* /*argument*/) {
  return false;
}

bool WinDirectoryLister::Reserved11(const char* /*argument*/) {
  return false;
}

bool WinDirectoryLister::Reserved12(const char* /*first*/, const char* /*second*/) {
  return false;
}

bool WinDirectoryLister::Reserved13(const char* /*first*/, const char* /*second*/) {
  return false;
}

WinDirectoryLister& TheDirectoryLister() {
  static WinDirectoryLister lister;
  return lister;
}

}  // namespace kiv
