#include "output_file.h"

#include "convert/png_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kivtool {

std::string SystemReason(int errnum) { return std::strerror(errnum != 0 ? errnum : EIO); }

OutputFile::~OutputFile() { Abandon(); }

bool OutputFile::Open(const std::string& path, bool noClobber, std::string* error) {
  Abandon();
  writeError_ = 0;
  path_ = path;
  noClobber_ = noClobber;
  toStdout_ = path == "-";
  direct_ = false;
  if (toStdout_) {
    stream_ = stdout;
    return true;
  }
  struct stat existing {};
  if (noClobber && lstat(path.c_str(), &existing) == 0) {
    *error = "exists; not replaced (-n)";
    return false;
  }
  // A device or a pipe (/dev/stdout, /dev/null, a FIFO) is written in place:
  // renaming over it would replace the device node with a plain file.
  if (stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode)) {
    stream_ = std::fopen(path.c_str(), "wb");
    if (stream_ == nullptr) {
      *error = SystemReason(errno);
      return false;
    }
    direct_ = true;
    return true;
  }
  // The temporary name lies in the target's directory, so the rename stays
  // within one file system.
  const std::size_t slash = path.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string name = directory + "." + base + ".XXXXXX";
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = SystemReason(errno);
    return false;
  }
  // mkstemp creates the file 0600; give it the mode a plain create would.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(fd, 0666 & ~mask);
  stream_ = fdopen(fd, "wb");
  if (stream_ == nullptr) {
    *error = SystemReason(errno);
    close(fd);
    unlink(name.c_str());
    return false;
  }
  temporary_ = name;
  return true;
}

void OutputFile::NoteWriteError(int errnum) {
  if (writeError_ == 0) writeError_ = errnum != 0 ? errnum : EIO;
}

bool OutputFile::Commit(std::string* error) {
  if (stream_ == nullptr) {
    *error = "not open";
    return false;
  }
  errno = 0;
  if (std::fflush(stream_) != 0 || std::ferror(stream_)) NoteWriteError(errno);
  if (toStdout_) {
    stream_ = nullptr;
    if (writeError_ != 0) *error = SystemReason(writeError_);
    return writeError_ == 0;
  }
  errno = 0;
  if (std::fclose(stream_) != 0) NoteWriteError(errno);
  stream_ = nullptr;
  if (direct_) {
    if (writeError_ != 0) *error = SystemReason(writeError_);
    return writeError_ == 0;
  }
  if (writeError_ != 0) {
    *error = SystemReason(writeError_);
    Abandon();
    return false;
  }
  if (noClobber_) {
    // link() refuses an existing target, so nothing that appeared meanwhile
    // is replaced either.
    if (link(temporary_.c_str(), path_.c_str()) == 0) {
      unlink(temporary_.c_str());
      temporary_.clear();
      return true;
    }
    const int reason = errno;
    struct stat existing {};
    // File systems without hard links: check, then rename.
    const bool noLinks = reason == EPERM || reason == ENOTSUP || reason == ENOSYS;
    if (!noLinks || lstat(path_.c_str(), &existing) == 0) {
      *error = reason == EEXIST || noLinks ? "exists; not replaced (-n)" : SystemReason(reason);
      Abandon();
      return false;
    }
  }
  if (std::rename(temporary_.c_str(), path_.c_str()) != 0) {
    *error = SystemReason(errno);
    Abandon();
    return false;
  }
  temporary_.clear();
  return true;
}

void OutputFile::Abandon() {
  if (stream_ != nullptr && !toStdout_) std::fclose(stream_);
  stream_ = nullptr;
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    temporary_.clear();
  }
}

bool SavePalettePng(const std::string& path, bool noClobber, const std::uint8_t* indices,
                    std::int32_t width, std::int32_t height,
                    const std::vector<std::uint8_t>& palette, int transparentIndex,
                    std::string* error) {
  OutputFile file;
  if (!file.Open(path, noClobber, error)) return false;
  if (!kiv::WritePalettePng(file.stream(), indices, width, height, palette, transparentIndex, error)) {
    return false;  // the OutputFile removes the partial file
  }
  return file.Commit(error);
}

}  // namespace kivtool
