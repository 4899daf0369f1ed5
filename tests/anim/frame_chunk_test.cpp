#include "anim/frame_chunk.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace kiv {
namespace {

using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAreArray;

Bytes Encoded(const Bytes& input) {
  FrameChunk chunk;
  EXPECT_TRUE(chunk.Encode(input.data(), static_cast<std::int32_t>(input.size())));
  return Bytes(chunk.payload, chunk.payload + chunk.compressedSize);
}

// A chunk whose payload buffer is exactly as long as the payload.
std::unique_ptr<FrameChunk> ChunkOf(const Bytes& payload) {
  auto chunk = std::make_unique<FrameChunk>();
  chunk->payload = new std::uint8_t[payload.size()];
  std::copy(payload.begin(), payload.end(), chunk->payload);
  chunk->compressedSize = static_cast<std::int32_t>(payload.size());
  return chunk;
}

Bytes Decoded(const Bytes& payload, std::size_t capacity, DecodeResult* result = nullptr) {
  auto chunk = ChunkOf(payload);
  Bytes out(capacity, 0xEE);
  const DecodeResult r = chunk->DecodeChecked(out.data(), out.size());
  if (result != nullptr) *result = r;
  out.resize(r.written);
  return out;
}

TEST(FrameChunkEncode, WritesTheDefinedTokenStream) {
  EXPECT_THAT(Encoded({5, 5, 5, 7, 8, 9, 9}),
              ElementsAreArray({0x00, 0x03, 0x05, 0x82, 0x07, 0x08, 0x00, 0x02, 0x09}));
  EXPECT_THAT(Encoded(Bytes(1000, 200)), ElementsAreArray({0x03, 0xE8, 0xC8}));
  EXPECT_THAT(Encoded({42}), ElementsAreArray({0x81, 42}));
  EXPECT_TRUE(Encoded({}).empty());
  // Two equal bytes are always a run, even inside what would be a literal.
  EXPECT_THAT(Encoded({1, 2, 2, 3}), ElementsAreArray({0x81, 1, 0x00, 0x02, 2, 0x81, 3}));
  // Runs form for every byte value, 0 and 255 included.
  EXPECT_THAT(Encoded({0, 0, 255, 255}), ElementsAreArray({0, 2, 0, 0, 2, 255}));
}

TEST(FrameChunkEncode, SplitsLiteralsAt123AndRunsAt32760) {
  Bytes distinct(124);
  for (std::size_t i = 0; i < distinct.size(); ++i) distinct[i] = static_cast<std::uint8_t>(i);
  const Bytes literal = Encoded(distinct);
  ASSERT_EQ(literal.size(), 1u + 123u + 1u + 1u);
  EXPECT_EQ(literal[0], 0xFB);
  EXPECT_EQ(literal[124], 0x81);
  EXPECT_EQ(literal[125], 123);

  Bytes ones(32761, 1);
  ones.push_back(2);
  EXPECT_THAT(Encoded(ones), ElementsAreArray({0x7F, 0xF8, 0x01, 0x82, 0x01, 0x02}));
  EXPECT_THAT(Encoded(Bytes(32762, 1)), ElementsAreArray({0x7F, 0xF8, 0x01, 0x00, 0x02, 0x01}));
}

TEST(FrameChunkEncode, ReadsNothingPastTheInput) {
  // The last byte sits at the very end of an exact allocation, so a peek
  // beyond it shows up under AddressSanitizer.
  for (const Bytes& input : {Bytes{1, 2, 3}, Bytes{4, 4}, Bytes{9}, Bytes{1, 2, 2}}) {
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[input.size()]);
    std::copy(input.begin(), input.end(), exact.get());
    FrameChunk chunk;
    ASSERT_TRUE(chunk.Encode(exact.get(), static_cast<std::int32_t>(input.size())));
    Bytes back(input.size());
    ASSERT_TRUE(chunk.Decode(back.data(), back.size()));
    EXPECT_EQ(back, input);
  }
  FrameChunk chunk;
  EXPECT_FALSE(chunk.Encode(nullptr, -1));
}

TEST(FrameChunkDecode, AcceptsTokensTheEncoderNeverWrites) {
  // 0x80 and a count-0 run are no-ops; a run of 32767 and a literal of 127 are the maxima.
  EXPECT_TRUE(Decoded({0x80, 0x00, 0x00, 0x33}, 16).empty());
  EXPECT_THAT(Decoded({0x00, 0x01, 0x44, 0x80, 0x81, 0x45}, 16), ElementsAreArray({0x44, 0x45}));
  const Bytes longRun = Decoded({0x7F, 0xFF, 0x09}, 40000);
  EXPECT_EQ(longRun, Bytes(32767, 9));
  Bytes literal{0xFF};
  for (int i = 0; i < 127; ++i) literal.push_back(static_cast<std::uint8_t>(i * 2));
  const Bytes out = Decoded(literal, 127);
  ASSERT_EQ(out.size(), 127u);
  EXPECT_EQ(out[126], 252);
  // Literals with equal neighbours are valid input too.
  EXPECT_THAT(Decoded({0x83, 7, 7, 7}, 3), ElementsAreArray({7, 7, 7}));
}

TEST(FrameChunkDecode, LeavesBytesBeyondTheOutputAlone) {
  auto chunk = ChunkOf({0x00, 0x02, 0x01});
  Bytes out(5, 0xEE);
  ASSERT_TRUE(chunk->Decode(out.data(), out.size()));
  EXPECT_THAT(out, ElementsAreArray({1, 1, 0xEE, 0xEE, 0xEE}));
  FrameChunk empty;
  EXPECT_TRUE(empty.Decode(out.data(), out.size()));
}

TEST(FrameChunkDecode, EveryTokenLengthWritesExactlyItsBytes) {
  // The short-token copies use overlapping word stores; none may touch a
  // byte outside its token, before or after.
  for (std::size_t count = 0; count <= 127; ++count) {
    Bytes literal{static_cast<std::uint8_t>(0x80 + count)};
    for (std::size_t i = 0; i < count; ++i) literal.push_back(static_cast<std::uint8_t>(i + 1));
    for (const Bytes& payload : {literal, Bytes{0x00, static_cast<std::uint8_t>(count), 0x5A}}) {
      Bytes stream{0x81, 0x11};  // one byte before the token under test
      stream.insert(stream.end(), payload.begin(), payload.end());
      auto chunk = ChunkOf(stream);
      Bytes out(1 + count + 20, 0xEE);
      ASSERT_TRUE(chunk->Decode(out.data(), out.size()));
      EXPECT_EQ(out[0], 0x11);
      for (std::size_t i = 0; i < count; ++i) {
        ASSERT_EQ(out[1 + i], payload[0] >= 0x80 ? i + 1 : 0x5A) << count;
      }
      for (std::size_t i = 1 + count; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << count;
    }
  }
}

TEST(FrameChunkDecode, StopsAtTheDestinationEnd) {
  DecodeResult result{};
  // The second run would pass the 6-byte destination: nothing of it is written.
  const Bytes out = Decoded({0x00, 0x04, 0x01, 0x00, 0x03, 0x02}, 6, &result);
  EXPECT_EQ(result.status, DecodeStatus::kOverrun);
  EXPECT_EQ(result.tokenOffset, 3u);
  EXPECT_EQ(out, Bytes(4, 1));

  Decoded({0x84, 1, 2, 3, 4}, 3, &result);
  EXPECT_EQ(result.status, DecodeStatus::kOverrun);
  EXPECT_EQ(result.written, 0u);

  Decoded({0x00, 0x03, 0x01}, 3, &result);
  EXPECT_EQ(result.status, DecodeStatus::kOk);

  auto chunk = ChunkOf({0x7F, 0xFF, 0x01});
  Bytes small(10);
  EXPECT_FALSE(chunk->Decode(small.data(), small.size()));
  EXPECT_EQ(chunk->CheckTokens(10).status, DecodeStatus::kOverrun);
  EXPECT_EQ(chunk->CheckTokens(32767).status, DecodeStatus::kOk);
}

TEST(FrameChunkDecode, StopsAtAPayloadThatEndsInsideAToken) {
  // Literals and runs cut short at every length; the chunk's buffer is exact.
  const Bytes cases[] = {{0x82, 1}, {0x81}, {0x00}, {0x00, 0x05}, {0x81, 9, 0x00, 0x01}};
  for (const Bytes& payload : cases) {
    DecodeResult result{};
    Decoded(payload, 64, &result);
    EXPECT_EQ(result.status, DecodeStatus::kTruncated) << payload.size();
  }
  DecodeResult result{};
  Decoded({0x81, 9, 0x00, 0x01}, 64, &result);
  EXPECT_EQ(result.tokenOffset, 2u);
  EXPECT_EQ(result.written, 1u);
}

TEST(FrameChunkCodec, RoundTripsMixedPictures) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 40; ++trial) {
    Bytes picture(1 + random() % 70000);
    std::size_t i = 0;
    while (i < picture.size()) {
      const std::size_t span = std::min<std::size_t>(picture.size() - i, 1 + random() % 40000 % (trial * 97 + 3));
      const bool flat = random() % 2;
      const auto value = static_cast<std::uint8_t>(random());
      for (std::size_t k = 0; k < span; ++k) {
        picture[i + k] = flat ? value : static_cast<std::uint8_t>(random() % (trial % 3 + 2));
      }
      i += span;
    }
    FrameChunk chunk;
    ASSERT_TRUE(chunk.Encode(picture.data(), static_cast<std::int32_t>(picture.size())));
    EXPECT_LE(static_cast<std::size_t>(chunk.compressedSize), 2 * picture.size());
    Bytes back(picture.size());
    ASSERT_EQ(chunk.CheckTokens(picture.size()).written, picture.size());
    ASSERT_TRUE(chunk.Decode(back.data(), back.size()));
    ASSERT_EQ(back, picture) << trial;
  }
}

TEST(FrameChunkLegacy, KeepsTheMiddle720Columns) {
  Bytes wide(kLegacyPictureSize);
  for (std::size_t y = 0; y < 576; ++y) {
    for (std::size_t x = 0; x < 768; ++x) wide[y * 768 + x] = static_cast<std::uint8_t>(x % 256);
  }
  FrameChunk chunk;
  ASSERT_TRUE(chunk.Encode(wide.data(), static_cast<std::int32_t>(wide.size())));
  std::vector<std::uint8_t> scratch(kLegacyPictureSize);
  ASSERT_TRUE(chunk.ConvertLegacyFrame(scratch.data(), scratch.size()));
  Bytes narrow(720 * 576);
  ASSERT_EQ(chunk.CheckTokens(narrow.size()).written, narrow.size());
  ASSERT_TRUE(chunk.Decode(narrow.data(), narrow.size()));
  for (std::size_t y = 0; y < 576; y += 115) {
    for (std::size_t x = 0; x < 720; ++x) {
      ASSERT_EQ(narrow[y * 720 + x], (x + 24) % 256) << y << "," << x;
    }
  }
  // Too small a scratch or a corrupt chunk is refused, and the payload kept.
  EXPECT_FALSE(chunk.ConvertLegacyFrame(scratch.data(), scratch.size() - 1));
  auto corrupt = ChunkOf({0x7F, 0xFF, 1, 0x7F, 0xFF, 1, 0x7F, 0xFF, 1, 0x7F, 0xFF, 1,
                                0x7F, 0xFF, 1, 0x7F, 0xFF, 1, 0x7F, 0xFF, 1, 0x7F, 0xFF, 1,
                                0x7F, 0xFF, 1, 0x7F, 0xFF, 1, 0x7F, 0xFF, 1, 0x7F, 0xFF, 1,
                                0x7F, 0xFF, 1, 0x7F, 0xFF, 1});  // 14 x 32767 > 442368
  EXPECT_FALSE(corrupt->ConvertLegacyFrame(scratch.data(), scratch.size()));
  EXPECT_EQ(corrupt->compressedSize, 42);
}

// Byte-at-a-time decoder to hold the fast one to: same stops, same result.
DecodeResult ReferenceDecode(const Bytes& payload, std::uint8_t* out, std::size_t capacity) {
  std::size_t q = 0, written = 0;
  while (q < payload.size()) {
    const std::size_t h = payload[q];
    const bool literal = h >= 0x80;
    if (literal ? q + 1 + (h - 0x80) > payload.size() : q + 3 > payload.size()) {
      return {DecodeStatus::kTruncated, written, q};
    }
    const std::size_t count = literal ? h - 0x80 : (h << 8 | payload[q + 1]);
    if (written + count > capacity) return {DecodeStatus::kOverrun, written, q};
    for (std::size_t i = 0; i < count; ++i)
      out[written + i] = literal ? payload[q + 1 + i] : payload[q + 2];
    written += count;
    q += literal ? 1 + count : 3;
  }
  return {DecodeStatus::kOk, written, q};
}

// Tens of thousands of short tokens, as dithered pictures give, with the odd
// long or empty one.
Bytes ShortTokens(std::mt19937& random, std::size_t size) {
  Bytes payload;
  while (payload.size() < size) {
    const unsigned kind = random() % 100;
    if (kind < 45) {
      const std::size_t count = random() % 2 ? 4 + random() % 3 : random() % 18;
      payload.push_back(static_cast<std::uint8_t>(0x80 + count));
      for (std::size_t i = 0; i < count; ++i)
        payload.push_back(static_cast<std::uint8_t>(random()));
    } else if (kind < 90) {
      payload.insert(payload.end(), {0, static_cast<std::uint8_t>(random() % 20),
                                     static_cast<std::uint8_t>(random())});
    } else if (kind < 94) {
      payload.insert(payload.end(), {0, static_cast<std::uint8_t>(17 + random() % 100),
                                     static_cast<std::uint8_t>(random())});
    } else if (kind < 96) {
      payload.push_back(0xFF);
      for (int i = 0; i < 127; ++i) payload.push_back(static_cast<std::uint8_t>(random()));
    } else if (kind < 97) {
      payload.insert(payload.end(), {static_cast<std::uint8_t>(random() % 0x80),
                                     static_cast<std::uint8_t>(random()), 7});
    } else {
      payload.push_back(0x80);
    }
  }
  return payload;
}

// Decodes into a buffer of sentinels with both the fast and the reference
// decoder and wants the same result and the same bytes everywhere, including
// beyond what was written.
void ExpectSameAsReference(const Bytes& payload, std::size_t capacity, const std::string& what) {
  auto chunk = ChunkOf(payload);
  Bytes fast(capacity + 64, 0xEE), slow(capacity + 64, 0xEE);
  const DecodeResult got = chunk->DecodeChecked(fast.data(), capacity);
  const DecodeResult want = ReferenceDecode(payload, slow.data(), capacity);
  ASSERT_EQ(got.status, want.status) << what;
  ASSERT_EQ(got.written, want.written) << what;
  ASSERT_EQ(got.tokenOffset, want.tokenOffset) << what;
  ASSERT_TRUE(fast == slow) << what;
}

// Bytes the payload's whole tokens expand to.
std::size_t Total(const Bytes& payload) {
  std::size_t q = 0, total = 0;
  while (q < payload.size()) {
    const std::size_t h = payload[q];
    const std::size_t step = h >= 0x80 ? 1 + (h - 0x80) : 3;
    if (q + step > payload.size()) break;
    total += h >= 0x80 ? h - 0x80 : (h << 8 | payload[q + 1]);
    q += step;
  }
  return total;
}

TEST(FrameChunkLongDecode, MatchesTheReferenceAtEveryKindOfStop) {
  std::mt19937 random(11);
  for (int trial = 0; trial < 6; ++trial) {
    const Bytes payload = ShortTokens(random, 20000 + random() % 60000);
    const std::size_t total = Total(payload);
    // Stops near the start, in either half, on token edges and inside tokens;
    // room to spare; exactly enough; a destination of nothing.
    for (const std::size_t capacity :
         {total, total + 1, total + 100, total - 1, total - 17, total * 9 / 10, total / 2 + 3,
          total / 2 - 5, total * 4 / 10, total / 10, std::size_t{100}, std::size_t{0}}) {
      ExpectSameAsReference(
          payload, capacity,
          "trial " + std::to_string(trial) + " capacity " + std::to_string(capacity));
    }
    // A payload cut anywhere: the last token is short of its bytes, or ends
    // just before the cut.
    for (const std::size_t cut :
         {payload.size() - 1, payload.size() - 2, payload.size() - 70, payload.size() / 2 + 1}) {
      ExpectSameAsReference(Bytes(payload.begin(), payload.begin() + cut), total,
                            "cut " + std::to_string(cut));
    }
  }
}

TEST(FrameChunkLongDecode, MatchesTheReferenceOnDamagedPayloads) {
  std::mt19937 random(12);
  for (int trial = 0; trial < 30; ++trial) {
    Bytes payload = ShortTokens(random, 17000 + random() % 30000);
    for (int flips = 1 + trial % 5; flips > 0; --flips)
      payload[random() % payload.size()] = static_cast<std::uint8_t>(random());
    const std::size_t total = Total(payload);
    ExpectSameAsReference(payload, total, "trial " + std::to_string(trial));
    ExpectSameAsReference(payload, total - total / 3, "short trial " + std::to_string(trial));
  }
}

TEST(FrameChunkLongDecode, MatchesTheReferenceOnRepeatingPatterns) {
  // One literal, then equal runs throughout.
  for (std::size_t size = 30000; size < 30012; ++size) {
    Bytes payload{0x84, 1, 2, 3, 4};
    while (payload.size() < size) payload.insert(payload.end(), {0, 6, 0x41});
    ExpectSameAsReference(payload, Total(payload), "size " + std::to_string(size));
    // Literals whose bytes look like run headers, then like literals.
    Bytes tricky;
    while (tricky.size() < size) tricky.insert(tricky.end(), {0x86, 0, 2, 0x81, 0x05, 0x7F, 0xC0});
    ExpectSameAsReference(tricky, Total(tricky), "tricky " + std::to_string(size));
    ExpectSameAsReference(tricky, Total(tricky) - 3, "tricky short " + std::to_string(size));
  }
}

TEST(FrameChunkLongDecode, RoundTripsDitheredPictures) {
  // A gradient dithered with a 4 x 4 matrix: short runs and literals only.
  static const int kMatrix[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  Bytes picture(720 * 300);
  for (std::size_t y = 0; y < 300; ++y) {
    for (std::size_t x = 0; x < 720; ++x) {
      const int level = static_cast<int>(x * 1024 / 720);
      picture[y * 720 + x] =
          static_cast<std::uint8_t>(64 + level / 16 + (level % 16 > kMatrix[y % 4][x % 4]));
    }
  }
  FrameChunk chunk;
  ASSERT_TRUE(chunk.Encode(picture.data(), static_cast<std::int32_t>(picture.size())));
  Bytes out(picture.size() + 16, 0xEE);
  ASSERT_TRUE(chunk.Decode(out.data(), picture.size()));
  EXPECT_TRUE(std::equal(picture.begin(), picture.end(), out.begin()));
  EXPECT_EQ(out[picture.size()], 0xEE);
  const Bytes payload(chunk.payload, chunk.payload + chunk.compressedSize);
  ExpectSameAsReference(payload, picture.size() - 1, "one byte short");
}

// ReadChunk through a scratch file of the given bytes.
struct ReadOutcome {
  bool ok;
  ChunkReadStatus status;
  std::int32_t size;
  Bytes payload;
};

ReadOutcome ReadFrom(const Bytes& bytes, bool withSize) {
  std::FILE* file = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::rewind(file);
  FrameChunk chunk;
  ReadOutcome outcome{};
  if (withSize) {
    outcome.status = chunk.ReadChunkChecked(file, bytes.size());
    outcome.ok = outcome.status == ChunkReadStatus::kOk;
  } else {
    outcome.ok = chunk.ReadChunk(file);
  }
  outcome.size = chunk.compressedSize;
  if (chunk.payload != nullptr) outcome.payload.assign(chunk.payload, chunk.payload + chunk.compressedSize);
  std::fclose(file);
  return outcome;
}

TEST(FrameChunkRead, ReadsOneChunkAndRefusesDamagedOnes) {
  const Bytes good{'F', 'R', 'M', 'E', 3, 0, 0, 0, 0x81, 7, 0x80, 'X'};
  for (bool withSize : {true, false}) {
    const ReadOutcome read = ReadFrom(good, withSize);
    EXPECT_TRUE(read.ok);
    EXPECT_THAT(read.payload, ElementsAreArray({0x81, 7, 0x80}));
  }
  // Every byte of the tag matters.
  for (std::size_t i = 0; i < 4; ++i) {
    Bytes bad = good;
    bad[i] ^= 0x20;
    EXPECT_EQ(ReadFrom(bad, true).status, ChunkReadStatus::kBadTag) << i;
    EXPECT_FALSE(ReadFrom(bad, false).ok);
  }
  // Ends inside the tag, the length, the payload.
  EXPECT_EQ(ReadFrom(Bytes(good.begin(), good.begin() + 3), true).status, ChunkReadStatus::kShortTag);
  EXPECT_EQ(ReadFrom(Bytes(good.begin(), good.begin() + 6), true).status, ChunkReadStatus::kShortLength);
  const ReadOutcome cut = ReadFrom(Bytes(good.begin(), good.begin() + 9), true);
  EXPECT_EQ(cut.status, ChunkReadStatus::kTooLong);
  EXPECT_EQ(cut.size, 1);  // keeps what the file held, and says so
  EXPECT_FALSE(ReadFrom(Bytes(good.begin(), good.begin() + 9), false).ok);
  FrameChunk none;
  EXPECT_FALSE(none.ReadChunk(nullptr));
}

TEST(FrameChunkRead, RefusesAbsurdLengthsWithoutAllocatingThem) {
  for (std::uint8_t top : {0x7F, 0xFF}) {
    const Bytes absurd{'F', 'R', 'M', 'E', 0xFF, 0xFF, 0xFF, top, 1, 2};
    const ReadOutcome read = ReadFrom(absurd, true);
    EXPECT_EQ(read.status, ChunkReadStatus::kTooLong);
    EXPECT_LE(read.size, 2);
    EXPECT_FALSE(ReadFrom(absurd, false).ok);
  }
}

// A quit signal is caught without SA_RESTART, so a read blocked on slow
// storage returns EINTR; that must not read as the end of the file.
TEST(FrameChunkRead, ASignalDuringAReadIsNotTheEndOfTheStream) {
#ifdef __EMSCRIPTEN__
  GTEST_SKIP() << "no signals or threads in the browser build";
#endif
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  struct sigaction action {};
  struct sigaction previous {};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  ASSERT_EQ(sigaction(SIGALRM, &action, &previous), 0);
  const Bytes chunk{'F', 'R', 'M', 'E', 3, 0, 0, 0, 0x81, 7, 0x80};
  std::thread writer([&] {
    // The alarm must reach the reader, blocked in its read meanwhile.
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    [[maybe_unused]] const ssize_t written = write(fds[1], chunk.data(), chunk.size());
    close(fds[1]);
  });
  itimerval timer{};
  timer.it_value.tv_usec = 50000;
  setitimer(ITIMER_REAL, &timer, nullptr);
  std::FILE* stream = fdopen(fds[0], "rb");
  ASSERT_NE(stream, nullptr);
  FrameChunk read;
  EXPECT_EQ(read.ReadChunkChecked(stream, UINT64_MAX), ChunkReadStatus::kOk);
  EXPECT_EQ(read.compressedSize, 3);
  writer.join();
  std::fclose(stream);
  sigaction(SIGALRM, &previous, nullptr);
}

}  // namespace
}  // namespace kiv
