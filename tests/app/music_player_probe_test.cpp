#include "app/music_player_probe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace kiv {
namespace {

class MusicPlayerProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Only this process's windows: the X display's would make counts vary.
    unsetenv("DISPLAY");
    platform::ResetForTests();
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &DefWindowProcA;
    windowClass.lpszClassName = "ProbeTestClass";
    ASSERT_NE(RegisterClassExA(&windowClass), 0);
  }
  void TearDown() override {
    for (HWND window : windows_) {
      DestroyWindow(window);
    }
    platform::ResetForTests();
  }
  void Open(const char* title) {
    HWND window = CreateWindowExA(0, "ProbeTestClass", title, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_NE(window, nullptr) << title;
    windows_.push_back(window);
  }
  static std::string Probe(bool* found) {
    ::testing::internal::CaptureStdout();
    *found = MusicPlayerProbe();
    return ::testing::internal::GetCapturedStdout();
  }

 private:
  std::vector<HWND> windows_;
};

TEST_F(MusicPlayerProbeTest, NoMatchingWindow) {
  for (const char* title : {"WINAMP", "Wina", "wInamp", " Winamp", "Player", ""}) {
    Open(title);
  }
  bool found = true;
  EXPECT_EQ(Probe(&found), "");
  EXPECT_FALSE(found);
}

TEST_F(MusicPlayerProbeTest, FirstFiveCharactersDecideAndEveryMatchPrints) {
  for (const char* title : {"Winamp 5.9", "Notes", "winamp", "Winam", "winamX - playlist", "WINAMP"}) {
    Open(title);
  }
  bool found = false;
  EXPECT_EQ(Probe(&found), "Winamp found!\nWinamp found!\nWinamp found!\nWinamp found!\n");
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace kiv
