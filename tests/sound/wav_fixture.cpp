#include "sound/wav_fixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kiv::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kiv-sound.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

namespace {
std::uint32_t Le32(const Bytes& bytes, std::size_t at) {
  return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}
}  // namespace

std::vector<Chunk> SplitChunks(const Bytes& file) {
  std::vector<Chunk> chunks;
  if (file.size() < 12 || std::string(file.begin(), file.begin() + 4) != "RIFF") return chunks;
  std::size_t at = 12;
  while (file.size() - at >= 8) {
    const std::uint32_t size = Le32(file, at + 4);
    if (size > file.size() - at - 8) return {};
    Chunk chunk;
    chunk.tag.assign(file.begin() + at, file.begin() + at + 4);
    chunk.payload.assign(file.begin() + at + 8, file.begin() + at + 8 + size);
    chunks.push_back(chunk);
    // Tools pad odd chunks to an even size.
    at += 8 + size + (size & 1);
  }
  return chunks;
}

Bytes ChunkPayload(const std::vector<Chunk>& chunks, const std::string& tag) {
  for (const Chunk& chunk : chunks) {
    if (chunk.tag == tag) return chunk.payload;
  }
  return {};
}

void PutLe16(Bytes* bytes, std::uint16_t value) {
  bytes->push_back(value & 0xFF);
  bytes->push_back(value >> 8);
}

void PutLe32(Bytes* bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes->push_back((value >> shift) & 0xFF);
}

Bytes BuildRiff(const std::string& formType, const std::vector<Chunk>& chunks) {
  Bytes body(formType.begin(), formType.end());
  for (const Chunk& chunk : chunks) {
    body.insert(body.end(), chunk.tag.begin(), chunk.tag.end());
    PutLe32(&body, chunk.overrideSize ? chunk.declaredSize : static_cast<std::uint32_t>(chunk.payload.size()));
    body.insert(body.end(), chunk.payload.begin(), chunk.payload.end());
  }
  Bytes file = {'R', 'I', 'F', 'F'};
  PutLe32(&file, static_cast<std::uint32_t>(body.size()));
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

Bytes PcmFormat(int channels, int rate, int bits) {
  Bytes format;
  const int blockAlign = channels * bits / 8;
  PutLe16(&format, 1);  // PCM
  PutLe16(&format, static_cast<std::uint16_t>(channels));
  PutLe32(&format, static_cast<std::uint32_t>(rate));
  PutLe32(&format, static_cast<std::uint32_t>(rate * blockAlign));
  PutLe16(&format, static_cast<std::uint16_t>(blockAlign));
  PutLe16(&format, static_cast<std::uint16_t>(bits));
  return format;
}

}  // namespace kiv::test
