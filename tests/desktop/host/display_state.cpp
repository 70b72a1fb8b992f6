// Tells pairstream.scr's show that the display went off, came on or dimmed, as Windows does:
// a WM_POWERBROADCAST whose setting lies in the saver's own memory. Prints what it did.
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const DWORD state = std::strcmp(argv[1], "off") == 0 ? 0 : std::strcmp(argv[1], "on") == 0 ? 1 : 2;
  const HWND show = FindWindowA("pairstream", "pairstream");
  if (!show) return std::puts("no show"), 1;
  DWORD pid = 0;
  GetWindowThreadProcessId(show, &pid);
  const HANDLE saver = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid);
  struct {
    POWERBROADCAST_SETTING head;
    DWORD rest;
  } setting{};
  setting.head.PowerSetting = {0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};
  setting.head.DataLength = sizeof(DWORD);
  std::memcpy(setting.head.Data, &state, sizeof state);
  void* there = saver ? VirtualAllocEx(saver, nullptr, sizeof setting, MEM_COMMIT, PAGE_READWRITE) : nullptr;
  if (!there || !WriteProcessMemory(saver, there, &setting, sizeof setting, nullptr)) return std::puts("no memory"), 1;
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(show, WM_POWERBROADCAST, PBT_POWERSETTINGCHANGE, LPARAM(there), SMTO_BLOCK, 5000, &result))
    return std::puts("not taken"), 1;
  std::printf("display %s: %lu\n", argv[1], static_cast<unsigned long>(result));
  return 0;
}
