// The C runtime's directory search and change of drive and directory, as the
// directory lister calls them. Linux has no drive letters: _chdrive always
// fails. Patterns are paths whose last component may hold the wildcards '*'
// and '?'; "*.*" matches every name, as it does on Windows.
#pragma once

#include <cstdint>

// Attribute bit of a directory entry.
constexpr unsigned _A_SUBDIR = 0x10;

// One entry of a search (the 32-bit time and size variant).
struct _finddata_t {
  unsigned attrib;
  std::int32_t time_create;  // -1: not known
  std::int32_t time_access;
  std::int32_t time_write;   // seconds since 1970-01-01, -1 when not known
  std::uint32_t size;        // low 32 bits; 0 for directories
  char name[260];
};

// Starts a search and fills the first entry. Returns the search handle, or -1
// when the directory cannot be read or nothing matches (no search is left open).
std::intptr_t _findfirst(const char* pattern, _finddata_t* data);
// Fills the next entry: 0, or -1 at the end or for an unknown handle.
int _findnext(std::intptr_t handle, _finddata_t* data);
// Ends a search: 0, or -1 for an unknown handle.
int _findclose(std::intptr_t handle);
// Makes drive number N (1 is A) current: always -1 here.
int _chdrive(int drive);
// Makes the path the current directory: 0 or -1.
int _chdir(const char* path);

namespace platform {
// Number of searches open now (tests check that none is left behind).
int OpenSearchCount();
}  // namespace platform
