#include "anim/animation_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <thread>

#include "anim/animation_writer.h"
#include "anim_fixtures.h"

namespace kiv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::Expanded;
using testing::OwnedTables;
using testing::ScratchPath;
using testing::WriteScratch;

Bytes Picture(std::size_t size, std::uint8_t seed) {
  Bytes picture(size);
  for (std::size_t i = 0; i < size; ++i) picture[i] = static_cast<std::uint8_t>((i / 7 + seed) * (i % 3 + 1));
  return picture;
}

Bytes FileOf(const AnimationWriteOptions& options, const std::vector<Bytes>& frames,
             const Bytes& background = {}) {
  Bytes out;
  std::string error;
  EXPECT_TRUE(WriteAnimationToMemory(options, frames, background, &out, &error)) << error;
  return out;
}

void Put32(Bytes* bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) (*bytes)[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void PutFloat(Bytes* bytes, std::size_t offset, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, 4);
  Put32(bytes, offset, bits);
}

AnimationWriteOptions Version(std::int32_t version, std::int32_t width = 720, std::int32_t height = 576) {
  AnimationWriteOptions options;
  options.version = version;
  options.width = width;
  options.height = height;
  return options;
}

bool Loads(const Bytes& file, OwnedTables* tables, AnimationError* error = nullptr) {
  return LoadAnimation(WriteScratch("load.kiv", file).c_str(), tables->View(), error);
}

class SizeGlobals : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }
  void TearDown() override { Reset(); }
  static void Reset() {
    FrameWidth = 720;
    FrameHeight = 576;
    ScreenWidth = 800;
    ScreenHeight = 600;
  }
};

TEST_F(SizeGlobals, BackgroundChunkStartsWhereEachVersionPutsIt) {
  const std::pair<std::int32_t, std::size_t> expected[] = {
      {909, 32}, {919, 7532}, {929, 6512}, {939, 6512}, {949, 6520}};
  for (const auto& [version, offset] : expected) {
    const Bytes file = FileOf(Version(version), {Bytes(720 * 576, 3)});
    ASSERT_GT(file.size(), offset + 4);
    EXPECT_EQ(std::memcmp(file.data() + offset, "FRME", 4), 0) << version;
    AnimationHeader header{};
    ASSERT_TRUE(ReadAnimationHeader(WriteScratch("offset.kiv", file).c_str(), &header));
    EXPECT_EQ(header.backgroundOffset, static_cast<std::int64_t>(offset));
    EXPECT_EQ(BackgroundOffsetOf(version), static_cast<std::int64_t>(offset));
  }
}

TEST_F(SizeGlobals, ProbeSetsFrameAndScreenSize) {
  FrameWidth = 1;  // stale values must be replaced
  ASSERT_TRUE(ProbeAnimationHeader(WriteScratch("p939.kiv", FileOf(Version(939), {Bytes(720 * 576)})).c_str()));
  EXPECT_EQ(FrameWidth, 720);
  EXPECT_EQ(FrameHeight, 576);
  EXPECT_EQ(ScreenWidth, 800);
  EXPECT_EQ(ScreenHeight, 600);
  ASSERT_TRUE(ProbeAnimationHeader(
      WriteScratch("p949.kiv", FileOf(Version(949, 640, 480), {Bytes(640 * 480)})).c_str()));
  EXPECT_EQ(ScreenWidth, 720);
  EXPECT_EQ(ScreenHeight, 504);
  // A refused file leaves the sizes as they were.
  EXPECT_FALSE(ProbeAnimationHeader(testing::ScratchPath("missing.kiv").c_str()));
  EXPECT_EQ(FrameWidth, 640);
}

// Every header fault refused by both the probe and the loader.
TEST_F(SizeGlobals, BadHeadersAreRefusedByProbeAndLoad) {
  const Bytes good = FileOf(Version(949, 8, 4), {Bytes(32, 1), Bytes(32, 2)});
  struct Case {
    const char* name;
    std::function<void(Bytes*)> damage;
    std::int64_t offset;
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const std::vector<Case> cases = {
      {"magic", [](Bytes* b) { (*b)[3] = 'B'; }, 0},
      {"version 959", [](Bytes* b) { Put32(b, 8, 959); }, 8},
      {"version 0", [](Bytes* b) { Put32(b, 8, 0); }, 8},
      {"version 948", [](Bytes* b) { Put32(b, 8, 948); }, 8},
      {"short header", [](Bytes* b) { b->resize(6000); }, 6000},
      {"before version", [](Bytes* b) { b->resize(10); }, 10},
      {"nan rate", [&](Bytes* b) { PutFloat(b, 12, nan); }, 12},
      {"infinite rate", [&](Bytes* b) { PutFloat(b, 12, inf); }, 12},
      {"negative rate", [](Bytes* b) { PutFloat(b, 12, -1.0f); }, 12},
      {"first above last", [](Bytes* b) { Put32(b, 16, 2); }, 16},
      {"last above 9998", [](Bytes* b) { Put32(b, 20, 9999); }, 20},
      {"last huge", [](Bytes* b) { Put32(b, 20, 0xFFFFFFFF); }, 20},
      {"zero width", [](Bytes* b) { Put32(b, 32, 0); }, 32},
      {"negative height", [](Bytes* b) { Put32(b, 36, 0xFFFFFFFF); }, 36},
      {"too large", [](Bytes* b) { Put32(b, 32, 1601); Put32(b, 36, 1200); }, 32},
      {"overflowing product", [](Bytes* b) { Put32(b, 32, 65536); Put32(b, 36, 65536); }, 32},
  };
  OwnedTables tables;
  for (const Case& c : cases) {
    Bytes bad = good;
    c.damage(&bad);
    const std::string path = WriteScratch("bad.kiv", bad);
    EXPECT_FALSE(ProbeAnimationHeader(path.c_str())) << c.name;
    EXPECT_EQ(FrameWidth, 720) << c.name;
    AnimationError error;
    EXPECT_FALSE(LoadAnimation(path.c_str(), tables.View(), &error)) << c.name;
    EXPECT_EQ(error.offset, c.offset) << c.name << ": " << error.what;
    EXPECT_EQ(error.where, "header") << c.name;
    EXPECT_EQ(tables.lastFrame, 0u) << c.name;  // the tables are untouched
  }
  // A frame rate of 0 and a 1600 x 1200 picture stay allowed.
  Bytes still = good;
  PutFloat(&still, 12, 0.0f);
  EXPECT_TRUE(ProbeAnimationHeader(WriteScratch("still.kiv", still).c_str()));
}

TEST(AnimationLoad, RepeatedFramesShareOneChunk) {
  AnimationWriteOptions options = Version(939);
  options.markRepeats = true;
  const Bytes a = Picture(720 * 576, 1);
  const Bytes b = Picture(720 * 576, 2);
  const Bytes file = FileOf(options, {a, a, a, b});
  // Two chunks after the flags: background, flags 0 1 1 0, frame 0, frame 3.
  std::size_t chunks = 0;
  for (std::size_t i = 0; i + 4 <= file.size(); ++i) chunks += std::memcmp(&file[i], "FRME", 4) == 0;
  EXPECT_EQ(chunks, 3u);

  OwnedTables tables;
  ASSERT_TRUE(Loads(file, &tables));
  EXPECT_THAT(std::vector<std::int32_t>(tables.repeatFlags.begin(), tables.repeatFlags.begin() + 5),
              ::testing::ElementsAre(0, 1, 1, 0, 0));
  EXPECT_EQ(tables.frames[1], tables.frames[0]);
  EXPECT_EQ(tables.frames[2], tables.frames[0]);
  EXPECT_NE(tables.frames[3], tables.frames[0]);
  EXPECT_EQ(tables.frames[4], nullptr);
  EXPECT_EQ(Expanded(tables.frames[2], a.size()), a);
  EXPECT_EQ(Expanded(tables.frames[3], b.size()), b);
  // Released exactly once (AddressSanitizer catches a double delete).
  ReleaseFrames(tables.View());
  EXPECT_EQ(tables.frames[0], nullptr);
  EXPECT_EQ(tables.frames[2], nullptr);
}

TEST(AnimationLoad, RoundTripsEveryVersionAndSize) {
  struct Case {
    std::int32_t version, width, height;
    std::uint32_t first;
  };
  const Case cases[] = {{909, 720, 576, 0},  {919, 720, 576, 5},  {929, 720, 576, 0},
                        {939, 720, 576, 9996}, {949, 1, 1, 0},      {949, 3, 2, 9998},
                        {949, 1600, 1200, 1}, {949, 1, 1920000, 0}, {949, 333, 7, 40}};
  OwnedTables tables;
  for (const Case& c : cases) {
    AnimationWriteOptions options = Version(c.version, c.width, c.height);
    options.firstFrame = c.first;
    options.frameRate = 12.5f;
    options.markRepeats = true;
    const std::size_t size = static_cast<std::size_t>(c.width) * c.height;
    const std::uint32_t count = std::min<std::uint32_t>(3, kMaxFrames - c.first);
    std::vector<Bytes> frames;
    for (std::uint32_t k = 0; k < count; ++k) frames.push_back(Picture(size, static_cast<std::uint8_t>(k * 50)));
    if (count == 3) frames[2] = frames[1];
    const Bytes background = Picture(size, 99);
    ASSERT_TRUE(Loads(FileOf(options, frames, background), &tables)) << c.version << " " << c.width;
    EXPECT_EQ(tables.firstFrame, c.first);
    EXPECT_EQ(tables.lastFrame, c.first + count - 1);
    EXPECT_EQ(tables.frameRate, 12.5f);
    for (std::uint32_t k = 0; k < count; ++k) {
      ASSERT_EQ(Expanded(tables.frames[c.first + k], size), frames[k]) << c.version << " frame " << k;
    }
    EXPECT_EQ(std::memcmp(tables.backgroundBuffer.get(), background.data(), size), 0);
    if (count == 3) {
      EXPECT_EQ(tables.frames[c.first + 2] == tables.frames[c.first + 1], c.version >= 939);
    }
    ReleaseFrames(tables.View());
  }
}

TEST(AnimationLoad, LegacyFramesAreCutButTheBackgroundIsNot) {
  // Hand-made 909 file: a 768-wide frame whose pixel is x mod 256, and a
  // 720-wide background used as stored.
  Bytes wide(kLegacyPictureSize);
  for (std::size_t i = 0; i < wide.size(); ++i) wide[i] = static_cast<std::uint8_t>(i % 768 % 256);
  FrameChunk frame;
  frame.Encode(wide.data(), static_cast<std::int32_t>(wide.size()));
  const Bytes background = Picture(720 * 576, 4);
  FrameChunk back;
  back.Encode(background.data(), static_cast<std::int32_t>(background.size()));
  for (std::int32_t version : {909, 919}) {
    const Bytes file = AssembleAnimation(Version(version), 0, Bytes(back.payload, back.payload + back.compressedSize),
                                         {}, {Bytes(frame.payload, frame.payload + frame.compressedSize)});
    OwnedTables tables;
    ASSERT_TRUE(Loads(file, &tables));
    const Bytes shown = Expanded(tables.frames[0], 720 * 576);
    for (std::size_t x = 0; x < 720; ++x) ASSERT_EQ(shown[575 * 720 + x], (x + 24) % 256);
    EXPECT_EQ(std::memcmp(tables.backgroundBuffer.get(), background.data(), background.size()), 0);
  }
}

TEST(AnimationLoad, TruncatedFileKeepsTheChunksReadSoFar) {
  std::vector<Bytes> frames;
  for (int k = 0; k < 8; ++k) frames.push_back(Picture(720 * 576, static_cast<std::uint8_t>(k)));
  Bytes file = FileOf(Version(929), frames);
  // Find frame 5's chunk (the 7th "FRME" counting the background) and cut inside its payload.
  std::size_t found = 0, cut = 0;
  for (std::size_t i = 0; i + 4 <= file.size(); ++i) {
    if (std::memcmp(&file[i], "FRME", 4) == 0 && ++found == 7) cut = i + 8 + 10;
  }
  ASSERT_GT(cut, 0u);
  file.resize(cut);
  OwnedTables tables;
  AnimationError error;
  EXPECT_FALSE(Loads(file, &tables, &error));
  EXPECT_EQ(error.where, "frame 5");
  for (int k = 0; k < 5; ++k) EXPECT_EQ(Expanded(tables.frames[k], 720 * 576), frames[k]) << k;
  ASSERT_NE(tables.frames[5], nullptr);
  EXPECT_EQ(tables.frames[5]->compressedSize, 10);  // partial, holds only what the file had
  EXPECT_EQ(tables.frames[6], nullptr);
}

TEST(AnimationLoad, EveryTruncationFailsCleanly) {
  AnimationWriteOptions options = Version(949, 6, 5);
  options.markRepeats = true;
  const Bytes file = FileOf(options, {Picture(30, 1), Picture(30, 1), Picture(30, 9)}, Picture(30, 3));
  OwnedTables tables;
  ASSERT_TRUE(Loads(file, &tables));
  ReleaseFrames(tables.View());
  for (std::size_t length = 0; length < file.size(); ++length) {
    Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length));
    cut.push_back(0);  // fmemopen needs a non-empty buffer; the stream length is `length`
    std::FILE* stream = fmemopen(cut.data(), length == 0 ? 1 : length, "rb");
    ASSERT_NE(stream, nullptr);
    AnimationError error;
    ASSERT_FALSE(LoadAnimationStream(stream, tables.View(), &error)) << length;
    std::fclose(stream);
    ReleaseFrames(tables.View());
  }
}

TEST(AnimationLoad, CorruptChunksAreRefusedWithTheirOffset) {
  const AnimationWriteOptions options = Version(949, 4, 2);
  const Bytes ok{0x00, 0x08, 0x01};                    // exactly 8 pixels
  const std::size_t background = 6520;
  const std::size_t flags = background + 8 + 3;
  const std::size_t frame0 = flags + 8;                 // two flags
  const std::size_t frame1 = frame0 + 8 + 3;
  struct Case {
    const char* name;
    Bytes backgroundPayload, frame1Payload;
    std::vector<std::int32_t> flags;
    std::int64_t offset;
    const char* where;
  };
  const std::vector<Case> cases = {
      {"run overruns", ok, {0x00, 0x09, 0x02}, {0, 0}, static_cast<std::int64_t>(frame1 + 8), "frame 1"},
      {"literal overruns", ok, {0x84, 1, 2, 3, 4, 0x85, 1, 2, 3, 4, 5}, {0, 0},
       static_cast<std::int64_t>(frame1 + 8 + 5), "frame 1"},
      {"literal past payload", ok, {0x83, 1, 2}, {0, 0}, static_cast<std::int64_t>(frame1 + 8), "frame 1"},
      {"run past payload", ok, {0x00, 0x02}, {0, 0}, static_cast<std::int64_t>(frame1 + 8), "frame 1"},
      {"background overruns", {0x7F, 0xFF, 0x00}, ok, {0, 0}, static_cast<std::int64_t>(background + 8),
       "background"},
  };
  OwnedTables tables;
  for (const Case& c : cases) {
    const Bytes file = AssembleAnimation(options, 1, c.backgroundPayload, c.flags, {ok, c.frame1Payload});
    ReleaseFrames(tables.View());
    AnimationError error;
    EXPECT_TRUE(ProbeAnimationHeader(WriteScratch("corrupt.kiv", file).c_str())) << c.name;
    EXPECT_FALSE(Loads(file, &tables, &error)) << c.name;
    EXPECT_EQ(error.offset, c.offset) << c.name << ": " << error.what;
    EXPECT_EQ(error.where, c.where) << c.name;
  }

  // Absurd and wrong chunk heads: refused before any allocation of that size.
  Bytes absurd = AssembleAnimation(options, 1, ok, {0, 0}, {ok, ok});
  Put32(&absurd, frame1 + 4, 0xFFFFFFF0);
  ReleaseFrames(tables.View());
  AnimationError error;
  EXPECT_FALSE(Loads(absurd, &tables, &error));
  EXPECT_EQ(error.offset, static_cast<std::int64_t>(frame1 + 4));
  EXPECT_THAT(error.what, ::testing::HasSubstr("runs past the end of the file"));
  Bytes tag = AssembleAnimation(options, 1, ok, {0, 0}, {ok, ok});
  tag[frame0] = 'f';
  ReleaseFrames(tables.View());
  EXPECT_FALSE(Loads(tag, &tables, &error));
  EXPECT_EQ(error.offset, static_cast<std::int64_t>(frame0));
  EXPECT_EQ(error.where, "frame 0");
}

TEST(AnimationLoad, FirstFrameMarkedAsRepeatIsRefused) {
  // Frames 2 and 3; the first has no predecessor whose chunk it could share.
  AnimationWriteOptions options = Version(949, 4, 2);
  options.firstFrame = 2;
  const Bytes ok{0x00, 0x08, 0x01};
  const Bytes file = AssembleAnimation(options, 3, ok, {1, 0}, {ok});
  OwnedTables tables;
  AnimationError error;
  EXPECT_FALSE(Loads(file, &tables, &error));
  EXPECT_EQ(error.offset, static_cast<std::int64_t>(6520 + 8 + 3));  // the first flag
  EXPECT_EQ(error.where, "repeat flags");
  EXPECT_EQ(error.what, "the first frame is marked as a repeat");
}

TEST(AnimationLoad, ShortFramesAndNoOpTokensLoad) {
  // A frame may expand to less than its picture; no-op tokens are valid.
  const Bytes file = AssembleAnimation(Version(949, 4, 2), 0, {0x80, 0x00, 0x00, 0x05},
                                       {0}, {{0x82, 9, 8}});
  OwnedTables tables;
  ASSERT_TRUE(Loads(file, &tables));
  EXPECT_THAT(Expanded(tables.frames[0], 8), ::testing::ElementsAre(9, 8, 0, 0, 0, 0, 0, 0));
}

// Runs `body` in a child process; its exit status, or -1 when it had not
// ended after `limitMs` (it is then killed).
int InChild(const std::function<int()>& body, int limitMs) {
  const pid_t child = fork();
  if (child == 0) _exit(body());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(AnimationLoad, SpecialFilesAreRefusedWithoutOpeningThem) {
#ifdef __EMSCRIPTEN__
  GTEST_SKIP() << "no special files or processes in the browser build";
#endif
  // A FIFO with no writer blocks an open for ever; a directory is no file.
  const std::string fifo = ScratchPath("fifo.kiv");
  const std::string directory = ScratchPath("directory.kiv");
  std::remove(fifo.c_str());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  mkdir(directory.c_str(), 0700);
  for (const std::string& path : {fifo, directory, std::string("/dev/zero")}) {
    const int status = InChild(
        [&path] {
          OwnedTables tables;
          AnimationError error;
          const bool refused = !ProbeAnimationHeader(path.c_str()) &&
                               !LoadAnimation(path.c_str(), tables.View(), &error) &&
                               error.what == "is not a regular file";
          return refused ? 0 : 1;
        },
        10000);
    EXPECT_EQ(status, 0) << path << (status < 0 ? ": blocked" : ": not refused");
  }
  std::remove(fifo.c_str());
  rmdir(directory.c_str());
}

#if defined(__SANITIZE_ADDRESS__)
#define KIV_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KIV_ASAN 1
#endif
#endif

TEST(AnimationLoad, RunningOutOfMemoryIsNotACorruptFile) {
#ifdef KIV_ASAN
  GTEST_SKIP() << "the address sanitizer reserves address space of its own";
#else
  // Three 63 MiB frames of zero runs (valid), stored sparse: only the
  // first fits in the address space left to the child.
  constexpr std::uint32_t kPayload = 63u << 20;
  const std::string path = ScratchPath("huge.kiv");
  {
    const Bytes head = AssembleAnimation(Version(949, 4, 2), 2, {0x00, 0x08, 0x01}, {0, 0, 0}, {});
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
    for (int k = 0; k < 3; ++k) {
      const char chunk[8] = {'F', 'R', 'M', 'E', 0, 0, static_cast<char>(kPayload >> 16 & 0xFF),
                             static_cast<char>(kPayload >> 24)};
      out.write(chunk, 8);
      out.seekp(kPayload - (k == 2 ? 1 : 0), std::ios::cur);
    }
    out.put(0);
  }
  const int status = InChild(
      [&path] {
        OwnedTables tables;
        std::ifstream statm("/proc/self/statm");
        unsigned long pages = 0;
        statm >> pages;
        const rlim_t limit = pages * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (100u << 20);
        const rlimit cap{limit, limit};
        if (setrlimit(RLIMIT_AS, &cap) != 0) return 77;
        // volatile: a compiler may take an unused allocation as granted.
        void* volatile probe = std::malloc(static_cast<std::size_t>(limit));
        const bool enforced = probe == nullptr;
        std::free(probe);
        if (!enforced) return 77;  // not enforced (as under qemu-user)
        AnimationError error;
        if (LoadAnimation(path.c_str(), tables.View(), &error)) return 2;
        if (!error.noMemory) return 3;
        return error.what == "not enough memory for frame 2 of 3" && error.where == "frame 1" ? 0 : 4;
      },
      60000);
  std::remove(path.c_str());
  if (status == 77) GTEST_SKIP() << "the address-space limit is not enforced here";
  EXPECT_EQ(status, 0) << "2 loaded, 3 not reported as memory, 4 wrong text";
#endif
}

}  // namespace
}  // namespace kiv
