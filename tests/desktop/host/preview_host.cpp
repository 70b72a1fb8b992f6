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
  if (GetWindow(window, GW_OWNER) != reinterpret_cast<HWND>(owner) || !IsWindowVisible(window))
    return TRUE;
  owned = window;
  return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  setvbuf(stdout, nullptr, _IONBF, 0);
  WNDCLASSA type{};
  type.lpfnWndProc = DefWindowProcA;
  type.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  type.lpszClassName = "pairstream-host";
  RegisterClassA(&type);
  HWND host = CreateWindowExA(0, type.lpszClassName, "pairstream host", WS_POPUP | WS_VISIBLE, 40,
                              40, 152, 112, nullptr, nullptr, nullptr, nullptr);
  char command[1024];
  const char* gap = argv[2][0] && argv[2][std::strlen(argv[2]) - 1] == ':' ? "" : " ";
  std::snprintf(command, sizeof command, "\"%s\" %s%s%llu", argv[1], argv[2], gap,
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(host)));
  STARTUPINFOA start{};
  start.cb = sizeof start;
  PROCESS_INFORMATION saver{};
  if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &start,
                      &saver))
    return 3;
  std::printf("started %s\n", command);
  HWND child = nullptr;
  ULONGLONG gone = 0;
  for (;;) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    RECT area{};
    if (!child && (child = GetWindow(host, GW_CHILD)) && IsWindowVisible(child)) {
      char name[64] = "";
      GetClassNameA(child, name, sizeof name);
      GetWindowRect(child, &area);
      MapWindowPoints(nullptr, host, reinterpret_cast<POINT*>(&area), 2);
      std::printf("child %s at %ld,%ld %ldx%ld\n", name, area.left, area.top,
                  area.right - area.left, area.bottom - area.top);
    } else if (child && !IsWindowVisible(child)) {
      child = nullptr;
    }
    if (!owned && EnumWindows(find_owned, reinterpret_cast<LPARAM>(host)) == FALSE) {
      char title[64] = "", text[256] = "";
      GetWindowTextA(owned, title, sizeof title);
      GetDlgItemTextA(owned, 0xFFFF, text, sizeof text);  // a message box's text
      std::printf("owns \"%s\": %s\n", title, text);
      PostMessageA(owned, WM_COMMAND, IDOK, 0);
    }
    if (!gone && GetFileAttributesA(argv[3]) != INVALID_FILE_ATTRIBUTES) {
      DestroyWindow(host);
      gone = GetTickCount64();
    }
    if (MsgWaitForMultipleObjects(1, &saver.hProcess, FALSE, 5, QS_ALLINPUT) == WAIT_OBJECT_0) {
      DWORD status = 0;
      GetExitCodeProcess(saver.hProcess, &status);
      std::printf("ended with status %lu, %lld ms after the window went\n", status,
                  gone ? static_cast<long long>(GetTickCount64() - gone) : -1LL);
      return 0;
    }
  }
}
