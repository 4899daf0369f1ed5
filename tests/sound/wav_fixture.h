// WAV fixtures made at test time: files written by sox and espeak-ng into a
// private temporary directory, and a small RIFF byte writer for the layouts
// that those tools never produce (extra chunks, odd orders, bad sizes).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kiv::test {

using Bytes = std::vector<std::uint8_t>;

struct Chunk {
  std::string tag;  // four characters
  Bytes payload;
  // Written as the chunk's size when set; otherwise the payload's size.
  bool overrideSize = false;
  std::uint32_t declaredSize = 0;
};

// A fresh directory under /tmp, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string Path(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs a shell command; true when it exits with status 0.
bool Run(const std::string& command);

Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);

// The chunks of a RIFF file after the form type (no pad bytes are expected
// between them); empty when the file is not RIFF or a size runs past the end.
std::vector<Chunk> SplitChunks(const Bytes& file);
// A payload of the named chunk, or an empty one.
Bytes ChunkPayload(const std::vector<Chunk>& chunks, const std::string& tag);

// "RIFF", the size of the rest, the form type and the chunks in order, with
// no pad bytes after odd sizes.
Bytes BuildRiff(const std::string& formType, const std::vector<Chunk>& chunks);

// A 16-byte PCM "fmt " payload.
Bytes PcmFormat(int channels, int rate, int bits);

void PutLe16(Bytes* bytes, std::uint16_t value);
void PutLe32(Bytes* bytes, std::uint32_t value);

}  // namespace kiv::test
