#include "platform/find_file.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// A search lists its directory once, when it starts, so that entries come in
// a stable (name) order and later changes to the directory do not disturb it.
struct Search {
  std::vector<_finddata_t> entries;
  std::size_t next = 0;
};

std::map<std::intptr_t, Search>& Searches() {
  static std::map<std::intptr_t, Search> searches;
  return searches;
}

std::intptr_t NextHandle() {
  static std::intptr_t counter = 0;
  counter = counter == INTPTR_MAX ? 1 : counter + 1;
  return counter;
}

// Windows wildcards know only '*' and '?': escape fnmatch's brackets, and take
// "*.*" as every name.
std::string ToFnmatchPattern(const std::string& pattern) {
  if (pattern == "*.*") {
    return "*";
  }
  std::string result;
  for (char c : pattern) {
    if (c == '[' || c == ']' || c == '\\') {
      result += '[';
      result += c;
      result += ']';
    } else {
      result += c;
    }
  }
  return result;
}

std::int32_t ToTime32(time_t value) {
  if (value < INT32_MIN || value > INT32_MAX) {
    return -1;
  }
  return static_cast<std::int32_t>(value);
}

bool FillEntry(const std::string& directory, const char* name, _finddata_t* entry) {
  std::string path = directory + "/" + name;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 && lstat(path.c_str(), &info) != 0) {
    return false;
  }
  std::memset(entry, 0, sizeof(*entry));
  const bool isDirectory = S_ISDIR(info.st_mode);
  entry->attrib = isDirectory ? _A_SUBDIR : 0;
  entry->time_create = -1;
  entry->time_access = ToTime32(info.st_atime);
  entry->time_write = ToTime32(info.st_mtime);
  entry->size = isDirectory ? 0 : static_cast<std::uint32_t>(static_cast<std::uint64_t>(info.st_size));
  std::strncpy(entry->name, name, sizeof(entry->name) - 1);
  entry->name[sizeof(entry->name) - 1] = '\0';
  return true;
}

}  // namespace

std::intptr_t _findfirst(const char* pattern, _finddata_t* data) {
  if (pattern == nullptr || data == nullptr) {
    return -1;
  }
  std::string text = pattern;
  std::string directory = ".";
  std::string namePattern = text;
  std::size_t slash = text.rfind('/');
  if (slash != std::string::npos) {
    directory = slash == 0 ? "/" : text.substr(0, slash);
    namePattern = text.substr(slash + 1);
  }
  if (namePattern.empty()) {
    return -1;
  }
  const std::string matcher = ToFnmatchPattern(namePattern);

  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) {
    return -1;
  }
  Search search;
  while (dirent* item = readdir(dir)) {
    if (fnmatch(matcher.c_str(), item->d_name, 0) != 0) {
      continue;
    }
    _finddata_t entry;
    if (FillEntry(directory, item->d_name, &entry)) {
      search.entries.push_back(entry);
    }
  }
  closedir(dir);
  if (search.entries.empty()) {
    return -1;
  }
  std::sort(search.entries.begin(), search.entries.end(),
            [](const _finddata_t& a, const _finddata_t& b) { return std::strcmp(a.name, b.name) < 0; });
  *data = search.entries[0];
  search.next = 1;
  std::intptr_t handle = NextHandle();
  Searches()[handle] = std::move(search);
  return handle;
}

int _findnext(std::intptr_t handle, _finddata_t* data) {
  auto found = Searches().find(handle);
  if (found == Searches().end() || data == nullptr) {
    return -1;
  }
  Search& search = found->second;
  if (search.next >= search.entries.size()) {
    return -1;
  }
  *data = search.entries[search.next++];
  return 0;
}

int _findclose(std::intptr_t handle) {
  return Searches().erase(handle) == 1 ? 0 : -1;
}

int _chdrive(int /*drive*/) {
  return -1;
}

int _chdir(const char* path) {
  if (path == nullptr) {
    return -1;
  }
  return chdir(path) == 0 ? 0 : -1;
}

namespace platform {
int OpenSearchCount() {
  return static_cast<int>(Searches().size());
}
}  // namespace platform
