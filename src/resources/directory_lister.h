// Walks the entries of a directory, files and subdirectories separately, and
// moves the current drive and directory.
#pragma once

#include <cstdint>

struct _finddata_t;

namespace kiv {

// Written by every successful find of any lister: the entry found last.
extern std::uint32_t LastEntrySize;        // bytes, low 32 bits
extern std::int32_t LastEntryWriteTime;    // seconds since 1970-01-01, -1 unknown

class DirectoryLister {
 public:
  virtual ~DirectoryLister() = default;
  // Each find returns the entry's name (valid until the next find of this
  // lister), or null when there is none.
  virtual char* FirstDirectory(const char* pattern) = 0;
  virtual char* NextDirectory() = 0;
  virtual char* FirstFile(const char* pattern) = 0;
  virtual char* NextFile() = 0;
  // Slots 5 and 9 to 13 are kept in the interface without a defined meaning;
  // a lister answers them with constants.
  virtual std::int32_t Reserved5(const char* argument) = 0;
  // Backslashes below the first directory level of a drive-letter path.
  virtual std::int32_t PathDepth(const char* path) = 0;
  virtual bool ChangeDrive(const char* /*path*/) { return true; }
  virtual bool ChangeDirectory(const char* path) = 0;
  virtual bool Reserved9(const char* argument) = 0;
  virtual bool Reserved10(const char* argument) = 0;
  virtual bool Reserved11(const char* argument) = 0;
  virtual bool Reserved12(const char* first, const char* second) = 0;
  virtual bool Reserved13(const char* first, const char* second) = 0;
};

// The lister for drive-letter paths over the runtime's directory search.
class WinDirectoryLister : public DirectoryLister {
 public:
  WinDirectoryLister() = default;
  // Searches still open are left as they are.
  ~WinDirectoryLister() override = default;
  WinDirectoryLister(const WinDirectoryLister&) = delete;
  WinDirectoryLister& operator=(const WinDirectoryLister&) = delete;

  char* FirstDirectory(const char* pattern) override;
  char* NextDirectory() override;
  char* FirstFile(const char* pattern) override;
  char* NextFile() override;
  std::int32_t Reserved5(const char* argument) override;
  std::int32_t PathDepth(const char* path) override;
  bool ChangeDrive(const char* path) override;
  bool ChangeDirectory(const char* path) override;
  bool Reserved9(const char* argument) override;
  bool Reserved10(const char* argument) override;
  bool Reserved11(const char* argument) override;
  bool Reserved12(const char* first, const char* second) override;
  bool Reserved13(const char* first, const char* second) override;

 private:
  char* Start(std::intptr_t& search, const char* pattern, bool wantDirectories);
  char* Continue(std::intptr_t& search, bool wantDirectories);
  char* Settle(std::intptr_t& search, _finddata_t& entry, bool wantDirectories);

  static constexpr std::intptr_t kNoSearch = -1;

  char name_[260] = {};
  std::intptr_t directorySearch_ = kNoSearch;
  std::intptr_t fileSearch_ = kNoSearch;
};

// The program-wide lister.
WinDirectoryLister& TheDirectoryLister();

}  // namespace kiv
