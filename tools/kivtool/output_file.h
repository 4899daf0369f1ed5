// Every file kivtool writes goes through an OutputFile: a temporary file
// beside the target, renamed into place only when complete, so a full disk or
// an error never leaves a truncated file under the target's name. "-" is
// standard output, and an existing device or pipe is opened as it is: both
// are written directly (a rename would replace the device node).
#pragma once

#include <cstdio>
#include <cstdint>
#include <string>
#include <vector>

namespace kivtool {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // an uncommitted file is removed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the temporary file for path. noClobber: refuse when path exists.
  // False with the reason in *error ("exists; not replaced (-n)", or the
  // system's reason).
  bool Open(const std::string& path, bool noClobber, std::string* error);
  // The stream to write to; valid between Open and Commit.
  std::FILE* stream() const { return stream_; }
  // Notes the system's reason for a failed write made outside stdio (the
  // error kept is the first one).
  void NoteWriteError(int errnum);
  // Flushes and closes, then renames the file into place. False with the
  // system's reason when any write failed; nothing is then left behind.
  bool Commit(std::string* error);
  // Closes and removes the temporary file.
  void Abandon();

  bool toStdout() const { return toStdout_; }
  // The temporary file's name; empty for standard output, a device or a pipe.
  const std::string& temporary() const { return temporary_; }

 private:
  std::FILE* stream_ = nullptr;
  std::string path_;
  std::string temporary_;
  bool toStdout_ = false;
  bool direct_ = false;  // a device or pipe, written in place
  bool noClobber_ = false;
  int writeError_ = 0;
};

// Writes a whole palette PNG file through an OutputFile (temporary file,
// then rename); "-" appends it to standard output.
bool SavePalettePng(const std::string& path, bool noClobber, const std::uint8_t* indices,
                    std::int32_t width, std::int32_t height,
                    const std::vector<std::uint8_t>& palette, int transparentIndex,
                    std::string* error);

// Closes a std::FILE held by a std::unique_ptr.
struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// The system's reason for errnum ("No space left on device").
std::string SystemReason(int errnum);

}  // namespace kivtool
