#include <cstdlib>
#include <string>

#include "platform/linux/linux_internal.h"
#include "platform_fixture.h"

namespace platform_test {
namespace {

class WindowsTest : public PlatformTest {};

TEST_F(WindowsTest, ClassRegistrationRefusesDuplicatesAndBadSizes) {
  EXPECT_NE(Register("MyClass"), 0);
  EXPECT_EQ(Register("MYCLASS"), 0);  // class names ignore case
  WNDCLASSEXA windowClass{};
  windowClass.lpfnWndProc = RecordingProc;
  windowClass.lpszClassName = "Sized";
  windowClass.cbSize = 0;
  EXPECT_EQ(RegisterClassExA(&windowClass), 0);
  windowClass.cbSize = 48;  // the size a 32-bit caller writes
  EXPECT_NE(RegisterClassExA(&windowClass), 0);
  windowClass.cbSize = sizeof(WNDCLASSEXA);
  windowClass.lpszClassName = nullptr;
  EXPECT_EQ(RegisterClassExA(&windowClass), 0);
  windowClass.lpszClassName = "NoProc";
  windowClass.lpfnWndProc = nullptr;
  EXPECT_EQ(RegisterClassExA(&windowClass), 0);
  EXPECT_EQ(RegisterClassExA(nullptr), 0);
}

TEST_F(WindowsTest, CreationSendsCreateAndDestructionSendsDestroy) {
  const ATOM atom = Register("MyClass");
  ASSERT_NE(atom, 0);
  EXPECT_EQ(Create("Unknown", "x"), nullptr);
  const HWND window = CreateWindowExA(WS_EX_TOPMOST, "MyClass", "KIV Player", WS_POPUP | WS_VISIBLE, 1, 2, 320,
                                      240, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].window, window);
  EXPECT_EQ(received[0].message, WM_CREATE);
  EXPECT_NE(received[0].lParam, 0);
  EXPECT_EQ(createdWith.x, 1);
  EXPECT_EQ(createdWith.y, 2);
  EXPECT_EQ(createdWith.cx, 320);
  EXPECT_EQ(createdWith.cy, 240);

  // Visible style; SW_HIDE answers with the previous visibility.
  EXPECT_TRUE(ShowWindow(window, SW_HIDE));
  EXPECT_FALSE(ShowWindow(window, SW_HIDE));
  EXPECT_FALSE(IsIconic(window));
  ShowWindow(window, SW_MINIMIZE);
  EXPECT_TRUE(IsIconic(window));
  ShowWindow(window, SW_RESTORE);
  EXPECT_FALSE(IsIconic(window));
  EXPECT_TRUE(SetForegroundWindow(window));

  received.clear();
  EXPECT_TRUE(DestroyWindow(window));
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].message, WM_DESTROY);
  EXPECT_FALSE(DestroyWindow(window));
  EXPECT_EQ(SendMessageA(window, WM_CLOSE, 0, 0), 0);

  // A class may also be named by its atom.
  const HWND byAtom = Create(MAKEINTRESOURCEA(atom), "atom");
  EXPECT_NE(byAtom, nullptr);
  EXPECT_NE(byAtom, window);  // handles are not reused
}

TEST_F(WindowsTest, CreateResultOfMinusOneFailsCreation) {
  ASSERT_NE(Register("MyClass"), 0);
  createResult = -1;
  EXPECT_EQ(Create("MyClass", "KIV Player"), nullptr);
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[1].message, WM_DESTROY);
  EXPECT_EQ(FindWindowA("MyClass", "KIV Player"), nullptr);
}

TEST_F(WindowsTest, FocusFindAndTitles) {
  ASSERT_NE(Register("MyClass"), 0);
  const HWND first = Create("MyClass", "KIV Player");
  const HWND second = Create("MyClass", "Other");
  EXPECT_EQ(SetFocus(first), nullptr);
  EXPECT_EQ(SetFocus(second), first);
  EXPECT_EQ(SetFocus(reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x999))), nullptr);

  EXPECT_EQ(FindWindowA("myclass", "kiv player"), first);
  EXPECT_EQ(FindWindowA("MyClass", "Other"), second);
  EXPECT_EQ(FindWindowA(nullptr, "Other"), second);
  EXPECT_EQ(FindWindowA("MyClass", nullptr), first);
  EXPECT_EQ(FindWindowA("MyClass", "Missing"), nullptr);

  char text[256];
  EXPECT_EQ(GetWindowTextA(first, text, sizeof(text)), 10);
  EXPECT_STREQ(text, "KIV Player");
  EXPECT_EQ(GetWindowTextA(first, text, 4), 3);
  EXPECT_STREQ(text, "KIV");
  text[0] = 'x';
  EXPECT_EQ(GetWindowTextA(first, text, 0), 0);
  EXPECT_EQ(text[0], 'x');
  EXPECT_EQ(GetWindowTextA(nullptr, text, sizeof(text)), 0);
  EXPECT_STREQ(text, "");
}

TEST_F(WindowsTest, GetWindowTextNeverCutsAUtf8Character) {
  ASSERT_NE(Register("MyClass"), 0);
  const HWND window = Create("MyClass", "ab\xC3\xA9");  // "abé"
  char text[4];
  EXPECT_EQ(GetWindowTextA(window, text, sizeof(text)), 2);
  EXPECT_STREQ(text, "ab");
}

BOOL CollectTitles(HWND window, LPARAM lParam) {
  auto* titles = reinterpret_cast<std::vector<std::string>*>(lParam);
  char text[256] = {};
  GetWindowTextA(window, text, sizeof(text));
  titles->push_back(text);
  return titles->size() < 2 ? TRUE : FALSE;
}

TEST_F(WindowsTest, EnumWindowsWithoutADisplayListsOwnWindows) {
  const char* saved = std::getenv("DISPLAY");
  const std::string display = saved != nullptr ? saved : "";
  unsetenv("DISPLAY");
  ASSERT_NE(Register("MyClass"), 0);
  Create("MyClass", "one");
  Create("MyClass", "two");
  const HWND third = Create("MyClass", "three");
  std::vector<std::string> titles;
  // The callback stops after two windows: EnumWindows reports that.
  EXPECT_FALSE(EnumWindows(CollectTitles, reinterpret_cast<LPARAM>(&titles)));
  EXPECT_EQ(titles, (std::vector<std::string>{"one", "two"}));
  DestroyWindow(third);
  titles.clear();
  EXPECT_FALSE(EnumWindows(CollectTitles, reinterpret_cast<LPARAM>(&titles)));
  EXPECT_EQ(titles.size(), 2u);
  if (saved != nullptr) setenv("DISPLAY", display.c_str(), 1);
}

TEST_F(WindowsTest, HandlesOfEachKindAreDistinct) {
  using platform::detail::HandleKind;
  using platform::detail::KindOf;
  using platform::detail::MakeHandle;
  using platform::detail::PayloadOf;
  const HWND own = MakeHandle(HandleKind::kOwn, 5);
  const HWND x11 = MakeHandle(HandleKind::kX11, 5);
  EXPECT_NE(own, x11);
  EXPECT_EQ(KindOf(own), HandleKind::kOwn);
  EXPECT_EQ(KindOf(x11), HandleKind::kX11);
  EXPECT_EQ(PayloadOf(x11), 5u);
  EXPECT_EQ(KindOf(nullptr), HandleKind::kInvalid);
  // X window ids use 29 bits at most.
  EXPECT_EQ(PayloadOf(MakeHandle(HandleKind::kX11, 0x1FFFFFFF)), 0x1FFFFFFFu);
}

}  // namespace
}  // namespace platform_test
