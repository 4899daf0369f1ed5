#include <SDL.h>

#include <cstdlib>

#include "platform/linux/linux_internal.h"
#include "platform_fixture.h"

namespace platform_test {
namespace {

using platform::detail::KeyCode;
using platform::detail::KeystrokeLParam;
using platform::detail::LookupKey;

struct HookCall {
  int hook;
  int code;
  WPARAM wParam;
  LPARAM lParam;
};
std::vector<HookCall> hookCalls;
HHOOK firstHook = nullptr;
HHOOK secondHook = nullptr;
LRESULT secondResult = 0;

LRESULT FirstHook(int code, WPARAM wParam, LPARAM lParam) {
  hookCalls.push_back(HookCall{1, code, wParam, lParam});
  return 0;
}

// Installed after FirstHook, so called first; passes on like a polite hook.
LRESULT SecondHook(int code, WPARAM wParam, LPARAM lParam) {
  hookCalls.push_back(HookCall{2, code, wParam, lParam});
  if (secondResult != 0) return secondResult;
  return CallNextHookEx(secondHook, code, wParam, lParam);
}

class KeyboardTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    hookCalls.clear();
    secondResult = 0;
  }

  static SDL_Event Key(Uint8 type, SDLKey sym, SDLMod mod = KMOD_NONE) {
    SDL_Event event{};
    event.type = type;
    event.key.type = type;
    event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    event.key.keysym.sym = sym;
    event.key.keysym.mod = mod;
    event.key.keysym.scancode = 0;  // what compat gives for extended keys: never read
    return event;
  }
};

TEST_F(KeyboardTest, HooksAreThreadKeyboardHooksOnly) {
  EXPECT_EQ(SetWindowsHookExA(WH_KEYBOARD, FirstHook, nullptr, 0), nullptr);
  EXPECT_EQ(SetWindowsHookExA(WH_KEYBOARD, FirstHook, nullptr, GetCurrentThreadId() + 1), nullptr);
  EXPECT_EQ(SetWindowsHookExA(13 /* WH_KEYBOARD_LL */, FirstHook, nullptr, GetCurrentThreadId()), nullptr);
  EXPECT_EQ(SetWindowsHookExA(WH_KEYBOARD, nullptr, nullptr, GetCurrentThreadId()), nullptr);
  const HHOOK hook = SetWindowsHookExA(WH_KEYBOARD, FirstHook, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  EXPECT_TRUE(UnhookWindowsHookEx(hook));
  EXPECT_FALSE(UnhookWindowsHookEx(hook));
}

TEST_F(KeyboardTest, PeekReportsNoRemoveAndRetrievalReportsActionOnceEach) {
  firstHook = SetWindowsHookExA(WH_KEYBOARD, FirstHook, nullptr, GetCurrentThreadId());
  ASSERT_NE(firstHook, nullptr);
  const LPARAM down = KeystrokeLParam(0x01, false, false, false);
  PostMessageA(nullptr, WM_KEYDOWN, VK_ESCAPE, down);
  PostMessageA(nullptr, WM_ACTIVATEAPP, 1, 0);  // not a keystroke: never reported

  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  ASSERT_EQ(hookCalls.size(), 1u);
  EXPECT_EQ(hookCalls[0].code, HC_NOREMOVE);
  EXPECT_EQ(hookCalls[0].wParam, VK_ESCAPE);
  EXPECT_EQ(hookCalls[0].lParam, down);

  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  ASSERT_EQ(hookCalls.size(), 2u);
  EXPECT_EQ(hookCalls[1].code, HC_ACTION);
  EXPECT_EQ(msg.message, WM_KEYDOWN);
  EXPECT_TRUE(TranslateMessage(&msg));

  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_ACTIVATEAPP);
  EXPECT_EQ(hookCalls.size(), 2u);

  // PM_REMOVE is a retrieval too.
  PostMessageA(nullptr, WM_KEYUP, VK_ESCAPE, KeystrokeLParam(0x01, false, true, true));
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  ASSERT_EQ(hookCalls.size(), 3u);
  EXPECT_EQ(hookCalls[2].code, HC_ACTION);
}

TEST_F(KeyboardTest, ChainRunsNewestFirstAndASwallowedKeystrokeIsGone) {
  firstHook = SetWindowsHookExA(WH_KEYBOARD, FirstHook, nullptr, GetCurrentThreadId());
  secondHook = SetWindowsHookExA(WH_KEYBOARD, SecondHook, nullptr, GetCurrentThreadId());
  PostMessageA(nullptr, WM_KEYDOWN, 'L', KeystrokeLParam(0x26, false, false, false));
  MSG msg{};
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  ASSERT_EQ(hookCalls.size(), 2u);
  EXPECT_EQ(hookCalls[0].hook, 2);
  EXPECT_EQ(hookCalls[1].hook, 1);
  EXPECT_EQ(CallNextHookEx(firstHook, HC_ACTION, 0, 0), 0);  // the end of the chain

  hookCalls.clear();
  secondResult = 1;
  PostMessageA(nullptr, WM_KEYDOWN, 'L', KeystrokeLParam(0x26, false, true, false));
  PostMessageA(nullptr, 0x400, 0, 0);
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.message, 0x400u);
  ASSERT_EQ(hookCalls.size(), 1u);
  EXPECT_EQ(hookCalls[0].hook, 2);
}

TEST_F(KeyboardTest, ScanCodeTableFollowsThePcKeyboard) {
  struct Expect {
    SDLKey sym;
    std::uint8_t scan;
    bool extended;
  };
  const Expect cases[] = {
      {SDLK_ESCAPE, 0x01, false}, {SDLK_1, 0x02, false},     {SDLK_2, 0x03, false},
      {SDLK_4, 0x05, false},      {SDLK_0, 0x0B, false},     {SDLK_l, 0x26, false},
      {SDLK_a, 0x1E, false},      {SDLK_z, 0x2C, false},     {SDLK_m, 0x32, false},
      {SDLK_F1, 0x3B, false},     {SDLK_F10, 0x44, false},   {SDLK_F11, 0x57, false},
      {SDLK_F12, 0x58, false},    {SDLK_RETURN, 0x1C, false}, {SDLK_KP_ENTER, 0x1C, true},
      {SDLK_LCTRL, 0x1D, false},  {SDLK_RCTRL, 0x1D, true},  {SDLK_LALT, 0x38, false},
      {SDLK_RALT, 0x38, true},    {SDLK_RSHIFT, 0x36, false}, {SDLK_SPACE, 0x39, false},
      {SDLK_UP, 0x48, true},      {SDLK_LEFT, 0x4B, true},   {SDLK_RIGHT, 0x4D, true},
      {SDLK_DOWN, 0x50, true},    {SDLK_KP8, 0x48, false},   {SDLK_KP4, 0x4B, false},
      {SDLK_KP6, 0x4D, false},    {SDLK_KP2, 0x50, false},   {SDLK_HOME, 0x47, true},
      {SDLK_KP7, 0x47, false},    {SDLK_DELETE, 0x53, true}, {SDLK_KP_PERIOD, 0x53, false},
      {SDLK_KP_DIVIDE, 0x35, true}, {SDLK_SLASH, 0x35, false}, {SDLK_NUMLOCK, 0x45, true},
      {SDLK_PAUSE, 0x45, false},
  };
  for (const Expect& expect : cases) {
    for (const bool numLock : {false, true}) {
      KeyCode code{};
      ASSERT_TRUE(LookupKey(expect.sym, numLock, &code)) << expect.sym;
      EXPECT_EQ(code.scan, expect.scan) << "sym " << expect.sym;
      EXPECT_EQ(code.extended, expect.extended) << "sym " << expect.sym;
    }
  }
  KeyCode code{};
  EXPECT_FALSE(LookupKey(SDLK_WORLD_0, false, &code));
  EXPECT_EQ(code.scan, 0);
  // NumLock picks the virtual key of a keypad key, not its scan code.
  ASSERT_TRUE(LookupKey(SDLK_KP8, true, &code));
  EXPECT_EQ(code.vk, VK_NUMPAD0 + 8);
  ASSERT_TRUE(LookupKey(SDLK_KP8, false, &code));
  EXPECT_EQ(code.vk, VK_UP);
}

TEST_F(KeyboardTest, KeystrokeLParamHasTheWindowsLayout) {
  EXPECT_EQ(KeystrokeLParam(0x48, true, false, false), 0x01480001);
  EXPECT_EQ(KeystrokeLParam(0x48, false, true, false), 0x40480001);
  EXPECT_EQ(KeystrokeLParam(0x58, false, true, true), static_cast<LPARAM>(0xC0580001u));
  // The hook's reading: 7-bit scan code and the release bit.
  const LPARAM up = KeystrokeLParam(0x50, true, true, true);
  EXPECT_EQ((up >> 16) & 0x7F, 0x50);
  EXPECT_NE(up & (LPARAM{1} << 31), 0);
}

TEST_F(KeyboardTest, FilterPostsKeystrokesToTheFocusWindowAndKeepsTheEvent) {
  ASSERT_NE(Register("Keys"), 0);
  const HWND first = Create("Keys", "first");
  const HWND second = Create("Keys", "second");
  SDL_Event event = Key(SDL_KEYDOWN, SDLK_UP);
  EXPECT_EQ(platform::detail::SdlInputFilter(&event), 1);
  SetFocus(second);
  event = Key(SDL_KEYDOWN, SDLK_UP);  // auto-repeat: no release in between
  platform::detail::SdlInputFilter(&event);
  event = Key(SDL_KEYUP, SDLK_UP);
  platform::detail::SdlInputFilter(&event);
  event = Key(SDL_KEYDOWN, SDLK_KP8, KMOD_NUM);
  platform::detail::SdlInputFilter(&event);

  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, first);  // no focus yet: the first window
  EXPECT_EQ(msg.message, WM_KEYDOWN);
  EXPECT_EQ(msg.wParam, VK_UP);
  EXPECT_EQ(msg.lParam, 0x01480001);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, second);
  EXPECT_EQ(msg.lParam, 0x41480001);  // previous state: down
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_KEYUP);
  EXPECT_EQ(msg.lParam, static_cast<LPARAM>(0xC1480001u));
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.wParam, VK_NUMPAD0 + 8);
  EXPECT_EQ(msg.lParam, 0x00480001);  // keypad 8: Up's code, not extended
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(KeyboardTest, FocusChangesOfTheSdlWindowActivateTheApplication) {
  ASSERT_NE(Register("Keys"), 0);
  const HWND window = Create("Keys", "main");
  SDL_Event event{};
  event.type = SDL_ACTIVEEVENT;
  event.active.type = SDL_ACTIVEEVENT;
  event.active.gain = 1;
  event.active.state = SDL_APPINPUTFOCUS;
  platform::detail::SdlInputFilter(&event);
  platform::detail::SdlInputFilter(&event);  // no change: no second message
  event.active.state = SDL_APPMOUSEFOCUS;
  event.active.gain = 0;
  platform::detail::SdlInputFilter(&event);  // the mouse alone activates nothing
  event.active.state = SDL_APPINPUTFOCUS | SDL_APPACTIVE;
  platform::detail::SdlInputFilter(&event);

  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, window);
  EXPECT_EQ(msg.message, WM_ACTIVATEAPP);
  EXPECT_EQ(msg.wParam, static_cast<WPARAM>(TRUE));
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, WM_ACTIVATEAPP);
  EXPECT_EQ(msg.wParam, static_cast<WPARAM>(FALSE));
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

// With SDL video up, the message functions pump SDL, so the filter runs and
// an event pushed by SDL itself passes the shell's poll unchanged.
TEST_F(KeyboardTest, MessageFunctionsPumpSdlWhenVideoIsUp) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
  ASSERT_NE(SDL_SetVideoMode(64, 48, 8, SDL_SWSURFACE), nullptr) << SDL_GetError();
  platform::AttachSdlInput();
  EXPECT_EQ(SDL_GetEventFilter(), &platform::detail::SdlInputFilter);
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  ASSERT_EQ(SDL_PushEvent(&quit), 0);
  MSG msg{};
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
  platform::Event event{};
  bool sawQuit = false;
  while (platform::PollEvent(&event)) sawQuit = sawQuit || event.type == SDL_QUIT;
  EXPECT_TRUE(sawQuit);
  platform::DetachSdlInput();
  EXPECT_EQ(SDL_GetEventFilter(), nullptr);
  SDL_Quit();
  EXPECT_FALSE(platform::PollEvent(&event));
}

}  // namespace
}  // namespace platform_test
