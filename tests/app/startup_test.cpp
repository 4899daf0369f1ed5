#include "app/startup.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "anim/animation_file.h"
#include "app/recording_services.h"
#include "platform/platform.h"
#include "shell/shell_flags.h"

namespace kiv {
namespace {

using testing::CallLog;
using testing::RecordingServices;

HINSTANCE FakeModule() { return reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x1000)); }

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ResetForTests();
    ResetShellFlags();
    FrameWidth = 720;
    FrameHeight = 576;
    ScreenWidth = 800;
    ScreenHeight = 600;
  }
  void TearDown() override { platform::ResetForTests(); }

  int Run(const char* commandLine, HINSTANCE previous = nullptr) {
    return RunKivPlay(services, FakeModule(), previous, commandLine, SW_SHOWNORMAL);
  }

  // The calls of a successful start-up up to the main loop.
  static CallLog StartedUp(const std::string& path) {
    return {"CheckPlatform",  "FindOtherInstance",    "RegisterMainClass", "CreateMainWindow",
            "ConnectSignals", "SoundSetWindow",       "CreateFileSystem",  "InstallKeyboardHook",
            "MusicPlayerProbe", "SoundInit",          "DisplayInit",       "AttachInput",
            "ProbeAnimationHeader", "SetVideoMode 800x600x8", "SetCaption " + path, "CreatePlayer",
            "Player Init", "FrameClockInit 100"};
  }
  static CallLog Teardown() {
    return {"PlayerLoadFailed", "FrameClockStop",  "DetachInput",        "DisplayShutdown",
            "Player Shutdown",  "Player destroyed", "SoundRelease",      "RemoveKeyboardHook",
            "DestroyMainWindow", "DestroyFileSystem"};
  }
  static CallLog Join(CallLog first, const CallLog& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
  }

  void ExpectFatalBox(const std::string& text, const std::string& caption) {
    ASSERT_EQ(services.boxes.size(), 1u);
    EXPECT_EQ(services.boxes[0].text, text);
    EXPECT_EQ(services.boxes[0].caption, caption);
    EXPECT_EQ(services.boxes[0].style, 0x52010u);
  }

  RecordingServices services;
};

TEST_F(StartupTest, EmptyCommandLineIsRefusedBeforeAnythingExists) {
  EXPECT_EQ(Run(""), -1);
  EXPECT_EQ(services.log, CallLog({"Box"}));
  ExpectFatalBox("To view a KIV animation, double click on the animation.", "Error");
}

TEST_F(StartupTest, OverlongPathIsRefusedNeverShortened) {
  std::strcpy(AnimationPath, "previous");
  const std::string tooLong(512, 'a');
  EXPECT_EQ(Run(tooLong.c_str()), -1);
  EXPECT_EQ(services.log, CallLog({"Box"}));
  ExpectFatalBox("The path of the KIV animation is too long (more than 511 characters).", "Error");
  EXPECT_STREQ(AnimationPath, "previous");
}

TEST_F(StartupTest, LongestPathsThatFitAreKept) {
  const std::string longest(511, 'b');
  EXPECT_TRUE(StoreAnimationPath(longest.c_str()));
  EXPECT_EQ(std::string(AnimationPath), longest);
  // The quotes do not count: 511 characters between them still fit.
  const std::string quoted = "\"" + std::string(511, 'c') + "\"";
  EXPECT_TRUE(StoreAnimationPath(quoted.c_str()));
  EXPECT_EQ(std::string(AnimationPath), std::string(511, 'c'));
  EXPECT_FALSE(StoreAnimationPath(("\"" + std::string(512, 'd') + "\"").c_str()));
}

TEST_F(StartupTest, QuoteStripping) {
  struct Case {
    const char* commandLine;
    const char* path;
  } cases[] = {
      {"\"/home/me/my films/intro.kiv\"", "/home/me/my films/intro.kiv"},
      {"/plain/path.kiv", "/plain/path.kiv"},
      {"\"leading only.kiv", "leading only.kiv"},
      {"trailing only.kiv\"", "trailing only.kiv"},
      {"\"", ""},
      {"\"\"", ""},
      // After a closing quote the rest stays part of the path.
      {"\"a b.kiv\" second", "a b.kiv\" second"},
      {"\"a.kiv\" ", "a.kiv\" "},
      {"  spaced  ", "  spaced  "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.commandLine);
    ASSERT_TRUE(StoreAnimationPath(c.commandLine));
    EXPECT_STREQ(AnimationPath, c.path);
  }
}

TEST_F(StartupTest, LoneQuoteGivesEmptyPathThatFailsTheProbe) {
  services.probe = 0;
  EXPECT_EQ(Run("\""), -1);
  EXPECT_EQ(services.probedPath, "");
  ExpectFatalBox("Unable to load KIV file or corrupt KIV file", "Fatal error");
}

TEST_F(StartupTest, PlatformCheckFailureStopsQuietly) {
  AppActive = 0;
  services.checkPlatform = 0;
  EXPECT_EQ(Run("x.kiv"), -1);
  EXPECT_EQ(services.log, CallLog({"CheckPlatform"}));
  EXPECT_EQ(AppActive, 1);  // set before anything else is created
  EXPECT_STREQ(AnimationPath, "x.kiv");
}

TEST_F(StartupTest, AnotherInstanceEndsWithZeroAndNoMessage) {
  services.otherInstance = 1;
  const HINSTANCE previous = reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x2000));
  EXPECT_EQ(Run("x.kiv", previous), 0);
  EXPECT_EQ(services.log, CallLog({"CheckPlatform", "FindOtherInstance"}));
  EXPECT_EQ(services.previousSeen, previous);
  EXPECT_TRUE(services.boxes.empty());
}

TEST_F(StartupTest, WindowClassOrWindowFailureTearsNothingDown) {
  services.registerClass = 0;
  EXPECT_EQ(Run("x.kiv"), -1);
  EXPECT_EQ(services.log, CallLog({"CheckPlatform", "FindOtherInstance", "RegisterMainClass"}));

  RecordingServices second;
  second.createWindow = 0;
  EXPECT_EQ(RunKivPlay(second, FakeModule(), nullptr, "x.kiv", SW_SHOWNORMAL), -1);
  EXPECT_EQ(second.log,
            CallLog({"CheckPlatform", "FindOtherInstance", "RegisterMainClass", "CreateMainWindow"}));
  EXPECT_EQ(second.moduleSeen, FakeModule());
}

TEST_F(StartupTest, HookFailureDestroysOnlyTheFileSystem) {
  services.installHook = 0;
  EXPECT_EQ(Run("x.kiv"), -1);
  EXPECT_EQ(services.log, CallLog({"CheckPlatform", "FindOtherInstance", "RegisterMainClass",
                                   "CreateMainWindow", "ConnectSignals", "SoundSetWindow",
                                   "CreateFileSystem", "InstallKeyboardHook", "DestroyFileSystem"}));
  EXPECT_TRUE(services.boxes.empty());
  EXPECT_EQ(services.soundWindow, services.fakeWindow);
  EXPECT_EQ(services.signalWindow, services.fakeWindow);
}

TEST_F(StartupTest, DisplayFailureReleasesSoundAndHookBeforeTheBox) {
  services.displayInit = 0;
  EXPECT_EQ(Run("x.kiv"), -1);
  const CallLog expected = {"CheckPlatform",  "FindOtherInstance",   "RegisterMainClass", "CreateMainWindow",
                            "ConnectSignals", "SoundSetWindow",      "CreateFileSystem",  "InstallKeyboardHook",
                            "MusicPlayerProbe", "SoundInit",         "DisplayInit",       "SoundRelease",
                            "RemoveKeyboardHook", "Box",             "DestroyFileSystem"};
  EXPECT_EQ(services.log, expected);
  ExpectFatalBox("Unable to initialize graphics system", "Fatal error");
}

TEST_F(StartupTest, MusicPlayerKeepsTheSoundDeviceClosed) {
  services.musicPlayer = 1;
  services.displayInit = 0;
  EXPECT_EQ(Run("x.kiv"), -1);
  for (const std::string& call : services.log) {
    EXPECT_NE(call, "SoundInit");
  }
  // Released all the same: releasing an unopened device is harmless.
  EXPECT_NE(std::find(services.log.begin(), services.log.end(), "SoundRelease"), services.log.end());
}

TEST_F(StartupTest, BadAnimationLeavesTheDisplayUp) {
  services.probe = 0;
  EXPECT_EQ(Run("\"not an animation.txt\""), -1);
  EXPECT_EQ(services.probedPath, "not an animation.txt");
  const CallLog tail = {"ProbeAnimationHeader", "DetachInput", "SoundRelease", "RemoveKeyboardHook", "Box",
                        "DestroyFileSystem"};
  ASSERT_GE(services.log.size(), tail.size());
  EXPECT_EQ(CallLog(services.log.end() - tail.size(), services.log.end()), tail);
  for (const std::string& call : services.log) {
    EXPECT_NE(call, "DisplayShutdown");
  }
  ExpectFatalBox("Unable to load KIV file or corrupt KIV file", "Fatal error");
}

TEST_F(StartupTest, VideoModeTriesThreeDepthsThenNamesTheScreenSize) {
  services.acceptedDepth = 0;
  services.probeWidth = 640;
  services.probeHeight = 480;
  EXPECT_EQ(Run("x.kiv"), -1);
  const CallLog tail = {"ProbeAnimationHeader", "SetVideoMode 720x504x8", "SetVideoMode 720x504x32",
                        "SetVideoMode 720x504x24", "SoundRelease", "DetachInput", "DisplayShutdown",
                        "RemoveKeyboardHook", "Box", "DestroyFileSystem"};
  ASSERT_GE(services.log.size(), tail.size());
  EXPECT_EQ(CallLog(services.log.end() - tail.size(), services.log.end()), tail);
  ExpectFatalBox("Unable to set up graphics mode, graphics card must be capable of running 720x504",
                 "Fatal error");

  RecordingServices standard;
  standard.acceptedDepth = 0;
  EXPECT_EQ(RunKivPlay(standard, FakeModule(), nullptr, "x.kiv", SW_SHOWNORMAL), -1);
  ASSERT_EQ(standard.boxes.size(), 1u);
  EXPECT_EQ(standard.boxes[0].text,
            "Unable to set up graphics mode, graphics card must be capable of running 800x600");
}

TEST_F(StartupTest, FirstAcceptedDepthStays) {
  services.acceptedDepth = 32;
  services.onUpdate = [](int) { return 0; };
  EXPECT_EQ(Run("x.kiv"), 0);
  int modes = 0;
  for (const std::string& call : services.log) {
    modes += call.rfind("SetVideoMode", 0) == 0 ? 1 : 0;
  }
  EXPECT_EQ(modes, 2);
}

TEST_F(StartupTest, PlayerAllocationFailureTearsDownWithoutMessage) {
  services.allocatePlayer = false;
  EXPECT_EQ(Run("x.kiv"), -1);
  const CallLog tail = {"CreatePlayer", "SoundRelease", "DetachInput", "DisplayShutdown", "RemoveKeyboardHook",
                        "DestroyFileSystem"};
  ASSERT_GE(services.log.size(), tail.size());
  EXPECT_EQ(CallLog(services.log.end() - tail.size(), services.log.end()), tail);
  EXPECT_TRUE(services.boxes.empty());
}

TEST_F(StartupTest, PlayerInitFailureShutsThePlayerDownFirst) {
  services.playerInit = 0;
  EXPECT_EQ(Run("x.kiv"), -1);
  const CallLog tail = {"CreatePlayer",   "Player Init",        "Player Shutdown", "Player destroyed",
                        "DetachInput",    "DisplayShutdown",    "SoundRelease",    "RemoveKeyboardHook",
                        "Box",            "DestroyFileSystem"};
  ASSERT_GE(services.log.size(), tail.size());
  EXPECT_EQ(CallLog(services.log.end() - tail.size(), services.log.end()), tail);
  ExpectFatalBox("Unable to initialize KIVPlay. Possibly missing graphics or wrong projects_path",
                 "Fatal error");
  EXPECT_EQ(CurrentPlayer, nullptr);
}

TEST_F(StartupTest, PlaybackEndRunsTheWholeSequenceAndReturnsZero) {
  PlaybackDone = 1;  // left over: must be cleared before the Player exists
  services.onUpdate = [](int update) { return update < 3 ? 1 : 0; };
  EXPECT_EQ(Run("\"/data/my anim.kiv\""), 0);
  EXPECT_EQ(services.playbackDoneAtCaption, 0);
  CallLog loop;
  for (int i = 0; i < 3; ++i) {
    loop.push_back("Player Update");
    loop.push_back("PumpSdlEvents");
  }
  EXPECT_EQ(services.log, Join(Join(StartedUp("/data/my anim.kiv"), loop), Teardown()));
  EXPECT_EQ(services.destroyedWindow, services.fakeWindow);
  EXPECT_TRUE(services.boxes.empty());
  EXPECT_EQ(CurrentPlayer, nullptr);
}

TEST_F(StartupTest, QuitMessageEndsWithItsCodeThroughTheSameTeardown) {
  services.onUpdate = [](int) {
    PostQuitMessage(7);
    return 1;
  };
  EXPECT_EQ(Run("x.kiv"), 7);
  const CallLog loop = {"Player Update", "PumpSdlEvents"};
  EXPECT_EQ(services.log, Join(Join(StartedUp("x.kiv"), loop), Teardown()));
}

TEST_F(StartupTest, FailedLoadIsReportedAfterTheNormalTeardown) {
  services.onUpdate = [](int) { return 0; };
  services.loadFailed = true;
  EXPECT_EQ(Run("x.kiv"), -1);
  const CallLog loop = {"Player Update", "PumpSdlEvents"};
  EXPECT_EQ(services.log, Join(Join(Join(StartedUp("x.kiv"), loop), Teardown()), {"Box"}));
  ExpectFatalBox("Unable to load KIV file or corrupt KIV file", "Fatal error");
}

}  // namespace
}  // namespace kiv
