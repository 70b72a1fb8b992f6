// The Windows desktop on the Win32 API: the show in a topmost popup over the primary monitor and
// a black one over every other, or as the preview in a child of the window the Screen Saver
// Settings hand over (/p), or a note that there are no settings (/c). Ticks come from a waitable
// timer; the changed pixels go out after a tick, at most once per refresh of the primary monitor.
// While the system has the display off the timer stops. Runs on Windows 8 or later.
#include <windows.h>
// These two need windows.h first.
#include <mmsystem.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "platform/common/flush.h"
#include "platform/common/pace.h"
#include "platform/desktop.h"

namespace ps {
namespace {

constexpr wchar_t kClassName[] = L"pairstream";
// Windows 10 1803 and later; older systems refuse it and get a raised timer resolution instead.
constexpr DWORD kHighResolutionTimer = 0x2;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
constexpr LONGLONG kPerMillisecond = 10000;  // the timer's 100 ns units
// A surface of up to this many pixels, a preview's, is sent whole: one call, not one per colour.
constexpr int kSentWhole = 1 << 16;
// GUID_CONSOLE_DISPLAY_STATE: the display is off (0), on (1) or dimmed (2).
constexpr GUID kDisplayState = {0x6fe69556, 0x704a, 0x47a0, {0x8f, 0x24, 0xc2, 0x8d, 0x93, 0x6f, 0xda, 0x47}};

COLORREF colorref(Rgb rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

HWND window_of(std::uint64_t number) {
  const auto hwnd = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(number));
  return number != 0 && IsWindow(hwnd) ? hwnd : nullptr;
}

LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

class Win32 final : public Backend {
 public:
  // A preview fills `host`; without one the show takes the screen.
  Win32(HWND host, bool previous)
      : segments_(2 * Surface::kTouchedCapacity),
        counts_(Surface::kTouchedCapacity, 2),
        host_(host),
        previous_(previous) {
    QueryPerformanceFrequency(&frequency_);
  }

  Stage& stage() { return stage_; }
  bool open(HINSTANCE instance);
  void show();
  [[noreturn]] void loop();
  LRESULT handle(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

  // Backend. The preview leaves the pointer to the dialog around it and takes no lock.
  void window_state(int state) override { state_ = state; }
  void set_interval(int ms) override;
  bool another_instance() override { return previous_; }
  int show_cursor(std::int32_t show) override { return host_ ? 0 : ShowCursor(show); }
  int service() override;
  [[noreturn]] void end() override;

 private:
  LONGLONG now() const;  // in the timer's units
  void arm();
  void fired();
  void display(bool lit);
  void pump();
  void follow_host();
  void place();
  void resized(int width, int height);
  void flush();
  void send_whole(HDC dc);
  void draw(Rgb colour, std::span<const Flush::Point> points);

  Stage stage_{*this};
  Pace pace_;
  Flush flush_;
  HWND hwnd_ = nullptr;
  std::vector<HWND> blacks_;  // one over each monitor but the primary
  HDC dc_ = nullptr;
  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[Surface::kInks];
  } bitmap_{};  // the surface as a bitmap of one byte a pixel, its table as the bitmap's
  // One colour's points as one-pixel segments for PolyPolyline; sized once, here.
  std::vector<POINT> segments_;
  std::vector<DWORD> counts_;
  HWND host_;
  HANDLE timer_ = nullptr;
  LARGE_INTEGER frequency_{};
  LONGLONG period_ = 0;  // 0 while stopped
  LONGLONG due_ = 0;     // when the next tick falls due
  LONGLONG frame_ = 10'000'000 / 60;  // the primary monitor's refresh, in the timer's units
  LONGLONG flushed_at_ = 0;
  int state_ = 0;
  int armed_ = 0;  // the period in ms
  bool previous_;
  bool dark_ = false;  // the display is off: no ticks
  bool raised_resolution_ = false;
  bool shown_ = false;
  bool pressed_ = false;
};

bool Win32::open(HINSTANCE instance) {
  WNDCLASSEXW type{};
  type.cbSize = sizeof type;
  type.style = CS_OWNDC;  // one DC for the whole run: no GetDC per flush
  type.lpfnWndProc = procedure;
  type.hInstance = instance;
  type.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  type.lpszClassName = kClassName;
  if (!RegisterClassExW(&type)) return false;
  if (host_) {
    RECT area{};
    GetClientRect(host_, &area);
    hwnd_ = CreateWindowExW(0, kClassName, L"pairstream", WS_CHILD, 0, 0, area.right, area.bottom,
                            host_, nullptr, instance, this);
  } else {
    // Created at the monitor's full size: a window that grows only when maximised stays small
    // where no window manager maximises it.
    hwnd_ = CreateWindowExW(WS_EX_TOPMOST, kClassName, L"pairstream", WS_POPUP, 0, 0,
                            GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                            nullptr, instance, this);
  }
  if (!hwnd_) return false;
  if (!host_) place();
  // In a preview the dialog decides; the show stops while the display is off.
  if (!host_) RegisterPowerSettingNotification(hwnd_, &kDisplayState, DEVICE_NOTIFY_WINDOW_HANDLE);
  dc_ = GetDC(hwnd_);
  SelectObject(dc_, GetStockObject(DC_PEN));
  RECT client{};
  GetClientRect(hwnd_, &client);
  resized(client.right, client.bottom);
  timer_ = CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_ALL_ACCESS);
  if (!timer_) {
    // A plain waitable timer keeps to the system's timer resolution, 15.6 ms by default:
    // 10 ms ticks need it at 1 ms for the run.
    timer_ = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    if (!timer_) return false;
    raised_resolution_ = timeBeginPeriod(1) == TIMERR_NOERROR;
  }
  DEVMODEW mode{};
  mode.dmSize = sizeof mode;
  if (EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &mode) && mode.dmDisplayFrequency > 1)
    frame_ = 10'000'000 / mode.dmDisplayFrequency;  // 0 and 1 stand for the hardware's default
  set_interval(stage_.Timer1.interval());
  return true;
}

// The show's window over the primary monitor, a black one over each other: at start and each
// time the monitors change. The black ones share the show's class: its black brush paints them.
void Win32::place() {
  std::vector<RECT> others;
  EnumDisplayMonitors(
      nullptr, nullptr,
      [](HMONITOR monitor, HDC, LPRECT, LPARAM found) -> BOOL {
        MONITORINFO info{};
        info.cbSize = sizeof info;
        if (GetMonitorInfoW(monitor, &info) && !(info.dwFlags & MONITORINFOF_PRIMARY))
          reinterpret_cast<std::vector<RECT>*>(found)->push_back(info.rcMonitor);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&others));
  // The primary's place is (0, 0) and its size the screen's.
  SetWindowPos(hwnd_, nullptr, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
               SWP_NOZORDER | SWP_NOACTIVATE);
  for (const HWND black : blacks_) DestroyWindow(black);
  blacks_.clear();
  for (const RECT& area : others) {
    // A tool window: no taskbar button.
    const HWND black =
        CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, L"", WS_POPUP, area.left,
                        area.top, area.right - area.left, area.bottom - area.top, nullptr, nullptr,
                        GetModuleHandleW(nullptr), this);
    if (!black) continue;
    blacks_.push_back(black);
    if (shown_) ShowWindow(black, SW_SHOWNA);
  }
}

void Win32::show() {
  if (host_) {
    ShowWindow(hwnd_, SW_SHOWNA);  // the dialog keeps the focus
  } else {
    for (const HWND black : blacks_) ShowWindow(black, SW_SHOWNA);
    ShowWindow(hwnd_, state_ == 2 ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    SetForegroundWindow(hwnd_);
  }
  shown_ = true;
  UpdateWindow(hwnd_);
}

void Win32::loop() {
  for (;;) {
    const DWORD woke =
        MsgWaitForMultipleObjectsEx(1, &timer_, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    pace_.looked(Pace::Clock::now());  // the queue is read now: the tick need not look first
    pump();  // input first, as Windows delivers it before a timer: an end waits for no tick
    if (woke == WAIT_OBJECT_0) fired();
  }
}

void Win32::end() {
  if (raised_resolution_) timeEndPeriod(1);
  ExitProcess(0);
}

LONGLONG Win32::now() const {
  LARGE_INTEGER count;
  QueryPerformanceCounter(&count);
  const LONGLONG counts = count.QuadPart, per_second = frequency_.QuadPart;
  // In two parts, so that the product cannot overflow however long the machine has been up.
  return counts / per_second * 10'000'000 + counts % per_second * 10'000'000 / per_second;
}

void Win32::arm() {
  LARGE_INTEGER wait;
  wait.QuadPart = -std::max<LONGLONG>(due_ - now(), 1);  // negative: relative to now
  SetWaitableTimer(timer_, &wait, 0, nullptr, nullptr, FALSE);
}

void Win32::set_interval(int ms) {
  if (!timer_) return;
  // The tick sets its own period again first thing: re-arming then would add the delivery
  // delay to every period and 100 ticks per second would drift lower.
  if (ms == armed_ && stage_.in_tick()) return;
  armed_ = ms;
  period_ = ms > 0 ? ms * kPerMillisecond : 0;
  if (period_ == 0 || dark_) {
    CancelWaitableTimer(timer_);
    return;
  }
  due_ = now() + period_;
  arm();
}

// The next tick is due one period after this one was due, however late this one came, so the
// phase holds; after a stall the ticks missed are dropped, not run in a burst.
void Win32::fired() {
  if (period_ == 0 || dark_) return;
  const LONGLONG at = now();
  due_ += period_;
  if (due_ <= at) due_ += ((at - due_) / period_ + 1) * period_;
  arm();
  if (host_) follow_host();
  stage_.tick_due();
  stage_.run_pending_tick();
  // Never amid a tick, and with a quarter of a frame of slack, so that a late tick does not
  // halve the rate; what waits goes out after the next tick.
  const LONGLONG done = now();
  if (!stage_.in_tick() && (done - flushed_at_ >= frame_ * 3 / 4 || period_ == 0)) {
    flushed_at_ = done;
    flush();
  }
}

// Off, the timer stops; back on (or dimmed), the show goes on from where it stopped, its next tick
// one period away.
void Win32::display(bool lit) {
  if (lit == !dark_) return;
  dark_ = !lit;
  if (dark_) {
    CancelWaitableTimer(timer_);
  } else if (period_ != 0) {
    due_ = now() + period_;
    arm();
  }
}

void Win32::pump() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    // The thread was told to quit: for the show a close request like any other.
    if (message.message == WM_QUIT && host_) end();
    if (message.message == WM_QUIT) stage_.show().QueryUnload();
    DispatchMessageW(&message);
  }
}

// The preview ends with the window it fills and follows its size.
void Win32::follow_host() {
  RECT area{};
  if (!GetClientRect(host_, &area)) end();
  const Surface& surface = stage_.surface();
  if (area.right != surface.width() || area.bottom != surface.height())
    SetWindowPos(hwnd_, nullptr, 0, 0, area.right, area.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
}

int Win32::service() {
  // Every PeekMessage is a round trip to the window server: look about once per millisecond.
  if (pace_.due(Pace::Clock::now())) {
    pump();
    if (WaitForSingleObject(timer_, 0) == WAIT_OBJECT_0) fired();
  }
  return Pace::kCalls;
}

LRESULT Win32::handle(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (!hwnd_) hwnd_ = hwnd;  // the first made is the show's, and speaks before it is returned
  // The preview's input belongs to the dialog around it; a close request destroys it.
  if (host_ && ((message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
                (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST) || message == WM_CLOSE))
    return DefWindowProcW(hwnd, message, wparam, lparam);
  // A black window takes the show's input; its class's brush paints it.
  if (hwnd != hwnd_ && (message == WM_PAINT || message == WM_ERASEBKGND || message == WM_SIZE ||
                        message == WM_DESTROY))
    return DefWindowProcW(hwnd, message, wparam, lparam);
  Events& form = stage_.show();
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      form.KeyDown();
      return 0;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_XBUTTONDOWN:
      pressed_ = true;
      return 0;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
    case WM_MBUTTONUP:
    case WM_XBUTTONUP:
      if (pressed_) form.Click();
      return 0;
    case WM_MOUSEMOVE: {  // from the window under the pointer, in the show window's coordinates
      POINT at{GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)};
      MapWindowPoints(hwnd, hwnd_, &at, 1);
      form.MouseMove(static_cast<float>(at.x), static_cast<float>(at.y));
      return 0;
    }
    case WM_CLOSE:
    case WM_QUERYENDSESSION:
    case WM_ENDSESSION:
      form.QueryUnload();
      return 0;
    case WM_DESTROY:  // only the preview's window is ever destroyed, with its host's
      end();
    case WM_DISPLAYCHANGE:
      if (hwnd == hwnd_ && !host_) place();
      return 0;
    case WM_POWERBROADCAST: {
      const auto* setting = reinterpret_cast<const POWERBROADCAST_SETTING*>(lparam);
      if (wparam == PBT_POWERSETTINGCHANGE && setting &&
          IsEqualGUID(setting->PowerSetting, kDisplayState) && setting->DataLength >= sizeof(DWORD)) {
        DWORD state = 0;
        std::memcpy(&state, setting->Data, sizeof state);
        display(state != 0);
      }
      return TRUE;
    }
    case WM_SIZE:
      resized(LOWORD(lparam), HIWORD(lparam));
      return 0;
    case WM_ERASEBKGND:
      return 1;  // every pixel comes from the surface
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(hwnd, &paint);
      send_whole(dc_);
      EndPaint(hwnd, &paint);
      stage_.surface().flushed();
      return 0;
    }
    default:
      return DefWindowProcW(hwnd, message, wparam, lparam);
  }
}

void Win32::resized(int width, int height) {
  const Surface& surface = stage_.surface();
  if (width == surface.width() && height == surface.height()) return;
  stage_.resize(width, height);
  BITMAPINFOHEADER& header = bitmap_.header;
  header.biSize = sizeof header;
  header.biWidth = surface.width();
  header.biPlanes = 1;
  header.biBitCount = 8;
  header.biCompression = BI_RGB;
  header.biClrUsed = Surface::kInks;
}

void Win32::flush() {
  Surface& surface = stage_.surface();
  // Until the window shows, nothing is sent: its first paint sends the whole surface.
  if (!shown_ || !surface.dirty()) return;
  surface.settle_changes();
  if (surface.width() * surface.height() <= kSentWhole ||
      !flush_.send(surface,
                   [&](Rgb colour, std::span<const Flush::Point> points) { draw(colour, points); }))
    send_whole(dc_);
  surface.flushed();
}

void Win32::send_whole(HDC dc) {
  Surface& surface = stage_.surface();
  surface.settle();
  // 0x00RRGGBB is an RGBQUAD's layout: blue, green, red, then the reserved byte.
  static_assert(sizeof(RGBQUAD) == sizeof(Rgb));
  std::memcpy(bitmap_.colours, surface.colours().data(), sizeof bitmap_.colours);
  // In bands, each a bitmap of its own.
  const int rows = surface.band_rows();
  for (int top = 0; top < surface.height(); top += rows) {
    const int band = std::min(rows, surface.height() - top);
    bitmap_.header.biHeight = -band;  // top row first, as the surface holds it
    SetDIBitsToDevice(dc, 0, top, static_cast<DWORD>(surface.width()), static_cast<DWORD>(band), 0,
                      0, 0, static_cast<UINT>(band), surface.inks() + top * surface.stride(),
                      reinterpret_cast<const BITMAPINFO*>(&bitmap_), DIB_RGB_COLORS);
  }
}

// Each point as a segment from (x, y) to (x + 1, y), which GDI draws as that one pixel.
void Win32::draw(Rgb colour, std::span<const Flush::Point> points) {
  for (std::size_t i = 0; i < points.size(); ++i) {
    segments_[2 * i] = {points[i].x, points[i].y};
    segments_[2 * i + 1] = {points[i].x + 1, points[i].y};
  }
  SetDCPenColor(dc_, colorref(colour));
  PolyPolyline(dc_, segments_.data(), counts_.data(), static_cast<DWORD>(points.size()));
}

LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* backend = reinterpret_cast<Win32*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  return backend ? backend->handle(hwnd, message, wparam, lparam)
                 : DefWindowProcW(hwnd, message, wparam, lparam);
}

}  // namespace

Mode read_mode(int argc, char** argv) { return windows_mode(argc, argv); }

int run_desktop(const Mode& mode, const MakeShow& make_show) {
  // From here on DLLs load from System32 only, whatever lies beside the .scr.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  const HWND given = window_of(mode.window);
  if (mode.kind == Mode::Kind::Settings) {
    MessageBoxW(given, L"pairstream has nothing to set: every run shows the same particles.",
                L"pairstream", MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  // A preview whose window is already gone has nothing to show.
  if (mode.kind == Mode::Kind::Embedded && !given) return 0;
  bool previous = false;
  if (mode.kind == Mode::Kind::Show) {
    // Taken before any window exists and held until the process ends. A mutex that another
    // user's instance holds is refused rather than shared: that is an instance too.
    SetLastError(ERROR_SUCCESS);
    CreateMutexW(nullptr, FALSE, L"Local\\pairstream-screen-saver");
    const DWORD error = GetLastError();
    previous = error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
  }

  auto backend = std::make_unique<Win32>(given, previous);
  Events& show = make_show(backend->stage());
  backend->stage().attach(show);
  // A second instance gets no window at all: Load's first step ends it.
  if (!previous && !backend->open(GetModuleHandleW(nullptr))) return 1;
  show.Load();
  backend->show();
  backend->loop();
}

}  // namespace ps
