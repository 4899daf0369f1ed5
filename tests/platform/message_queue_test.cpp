#include "platform_fixture.h"

namespace platform_test {
namespace {

class MessageQueueTest : public PlatformTest {};

TEST_F(MessageQueueTest, PostedMessagesComeOutInOrderAndQuitComesLast) {
  ASSERT_NE(Register("Queue"), 0);
  const HWND window = Create("Queue", "q");
  ASSERT_NE(window, nullptr);

  PostQuitMessage(7);
  ASSERT_TRUE(PostMessageA(window, WM_CLOSE + 100, 1, 2));
  ASSERT_TRUE(PostMessageA(nullptr, WM_CLOSE + 101, 3, 4));

  MSG msg{};
  // Looking leaves the message where it is.
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_CLOSE + 100u);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_CLOSE + 100u);

  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.hwnd, window);
  EXPECT_EQ(msg.message, WM_CLOSE + 100u);
  EXPECT_EQ(msg.wParam, 1u);
  EXPECT_EQ(msg.lParam, 2);
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_EQ(msg.message, WM_CLOSE + 101u);

  // The quit posted first still comes after every posted message.
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(msg.message, WM_QUIT);
  EXPECT_EQ(static_cast<int>(msg.wParam), 7);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueueTest, NegativeExitCodeSurvivesTheRoundTrip) {
  PostQuitMessage(-1);
  MSG msg{};
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
  EXPECT_EQ(static_cast<int>(msg.wParam), -1);
}

TEST_F(MessageQueueTest, FiltersSelectByWindowAndRange) {
  ASSERT_NE(Register("Queue"), 0);
  const HWND first = Create("Queue", "a");
  const HWND second = Create("Queue", "b");
  PostMessageA(first, 0x400, 0, 0);
  PostMessageA(second, 0x401, 0, 0);
  PostMessageA(nullptr, 0x402, 0, 0);

  MSG msg{};
  ASSERT_TRUE(PeekMessageA(&msg, second, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, 0x401u);
  const HWND threadOnly = reinterpret_cast<HWND>(static_cast<std::intptr_t>(-1));
  ASSERT_TRUE(PeekMessageA(&msg, threadOnly, 0, 0, PM_REMOVE));
  EXPECT_EQ(msg.message, 0x402u);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0x500, 0x600, PM_REMOVE));
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0x400, 0x400, PM_REMOVE));
  EXPECT_EQ(msg.hwnd, first);
  EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST_F(MessageQueueTest, DispatchCallsTheWindowProcedure) {
  ASSERT_NE(Register("Queue"), 0);
  const HWND window = Create("Queue", "w");
  received.clear();
  PostMessageA(window, WM_ACTIVATEAPP, 1, 0);
  MSG msg{};
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  EXPECT_FALSE(TranslateMessage(&msg));
  DispatchMessageA(&msg);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].window, window);
  EXPECT_EQ(received[0].message, WM_ACTIVATEAPP);
  EXPECT_EQ(received[0].wParam, 1u);

  // A message for a window destroyed meanwhile reaches nobody.
  PostMessageA(window, WM_ACTIVATEAPP, 1, 0);
  ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
  DestroyWindow(window);
  received.clear();
  EXPECT_EQ(DispatchMessageA(&msg), 0);
  EXPECT_TRUE(received.empty());
  EXPECT_FALSE(PostMessageA(window, WM_CLOSE, 0, 0));
}

TEST_F(MessageQueueTest, CloseDestroysTheWindowAndEndsTheLoop) {
  // The main window's pattern: WM_CLOSE -> DestroyWindow -> WM_DESTROY ->
  // PostQuitMessage(0) -> GetMessageA returns 0.
  static HWND destroyed = nullptr;
  destroyed = nullptr;
  ASSERT_NE(Register("Main",
                     [](HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
                       if (message == WM_DESTROY) {
                         destroyed = window;
                         PostQuitMessage(0);
                         return 0;
                       }
                       return DefWindowProcA(window, message, wParam, lParam);
                     }),
            0);
  const HWND window = Create("Main", "KIV Player");
  PostMessageA(window, WM_CLOSE, 0, 0);
  MSG msg{};
  int dispatched = 0;
  while (GetMessageA(&msg, nullptr, 0, 0) != 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    ++dispatched;
  }
  EXPECT_EQ(dispatched, 1);
  EXPECT_EQ(destroyed, window);
  EXPECT_EQ(msg.wParam, 0u);
  EXPECT_FALSE(DestroyWindow(window));
}

TEST_F(MessageQueueTest, BadArgumentsAreRefused) {
  MSG msg{};
  EXPECT_FALSE(PeekMessageA(nullptr, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(GetMessageA(nullptr, nullptr, 0, 0), -1);
  const HWND bogus = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1235));
  EXPECT_EQ(GetMessageA(&msg, bogus, 0, 0), -1);
  EXPECT_FALSE(PostMessageA(bogus, WM_CLOSE, 0, 0));
  EXPECT_EQ(DispatchMessageA(nullptr), 0);
}

}  // namespace
}  // namespace platform_test
