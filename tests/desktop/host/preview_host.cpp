// The Wine tests' stand-in for the Screen Saver Settings dialog: a frameless 152x112 window at
// (40, 40) that starts SCR with ARG and its handle ("/p 123", "/c:123"), prints what it sees
// (the preview window in it, a box it owns, how the saver ended) and closes when END appears.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

HWND owned = nullptr;

BOOL CALLBACK find_owned(HWND window, LPARAM owner) {
  if (GetWindow(window, GW_OWNER) == HWND(owner) && IsWindowVisible(window)) owned = window;
  return owned == nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4 || !argv[2][0]) return 2;
  setvbuf(stdout, nullptr, _IONBF, 0);
  HWND host = CreateWindowExA(0, "STATIC", "pairstream host", WS_POPUP | WS_VISIBLE, 40, 40, 152,
                              112, nullptr, nullptr, nullptr, nullptr);
  char command[1024], name[64] = "", text[256] = "";
  std::snprintf(command, sizeof command, "\"%s\" %s%s%llu", argv[1], argv[2],
                argv[2][std::strlen(argv[2]) - 1] == ':' ? "" : " ",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(host)));
  STARTUPINFOA start{};
  start.cb = sizeof start;
  PROCESS_INFORMATION saver{};
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, 0, 0, nullptr, nullptr, &start, &saver))
    return 3;
  HWND seen = nullptr;
  ULONGLONG gone = 0;
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    HWND child = GetWindow(host, GW_CHILD);
    RECT area{};
    if (!seen && child && IsWindowVisible(child) && GetClientRect(child, &area)) {
      MapWindowPoints(child, host, reinterpret_cast<POINT*>(&area), 2);
      GetClassNameA(seen = child, name, sizeof name);
      std::printf("child %s at %ld,%ld %ldx%ld\n", name, area.left, area.top,
                  area.right - area.left, area.bottom - area.top);
    }
    if (!owned && !EnumWindows(find_owned, LPARAM(host))) {
      GetWindowTextA(owned, name, sizeof name);
      GetDlgItemTextA(owned, 0xFFFF, text, sizeof text);  // a message box's text
      std::printf("owns \"%s\": %s\n", name, text);
      PostMessageA(owned, WM_COMMAND, IDOK, 0);
    }
    if (!gone && GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES)
      DestroyWindow(host), gone = GetTickCount64();
    if (MsgWaitForMultipleObjects(1, &saver.hProcess, 0, 5, QS_ALLINPUT) == WAIT_OBJECT_0) {
      DWORD status = 0;
      GetExitCodeProcess(saver.hProcess, &status);
      std::printf("ended with status %lu, %lld ms after the window went\n", status,
                  gone ? static_cast<long long>(GetTickCount64() - gone) : -1LL);
      return 0;
    }
  }
}
