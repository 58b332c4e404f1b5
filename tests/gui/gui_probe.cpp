// The GUI tests' eyes and hands inside Wine: finds the tray program's
// windows the way another process does (the application window by class
// and title) and reports what a user would see, or posts a request to it.
// One command per run, one line of "key=value" pairs on standard output;
// exit 1 when the window asked about does not exist.
//
//   post MESSAGE [WPARAM LPARAM]  post to the application window
//   post-panel MESSAGE [WPARAM LPARAM]
//                                 post to the panel (as the tray posts its icon's events)
//   panel                         the panel: visible, its rectangle, its X window, its handle
//   panel-shown TIMEOUT_MS        waits until the panel shows, then as panel
//                                 (the panel shows for about a second after a
//                                 start: too short for one Wine start per look)
//   controls                      slider and button: enabled, the volume shown, which has the
//                                 keyboard focus, their rectangles
//   version                       the panel's hidden version label
//   accessible                    what a screen reader gets: the slider's and the button's
//                                 names and the slider's value (spaces in them as "_")
//   tray                          Wine's tray window: visible, its rectangle
//   menu                          the program's open popup menu: its rectangle
//   error-box CAPTION             an error box: its text
//   press-ok CAPTION              presses that box's OK button
//   end-session                   tells the application window the session ends
//   console                       the text of the program's debug console
//   process                       the program's CPU times and private memory
//   hold-smbus-lock SECONDS       holds the SMBus mutex that monitoring tools share, as one
//                                 of them does: "held" once taken, "released" at the end
//   latency SECONDS               the application thread's answer time to a sent message,
//                                 every 10 ms: median, 99th percentile and worst in ms
//   end-tray                      ends the process that shows the tray (Explorer's part)
//   stand-in-tray SECONDS [new] [refuse-first]
//                                 a tray of its own for SECONDS (Wine starts no second tray
//                                 in a running session): prints a line per icon request
//                                 ("add"/"modify"/"delete", the owner window, and "refused"
//                                 when it said no); with "new" it first tells every window
//                                 the task bar is new, as a restarted Explorer does; with
//                                 "refuse-first" it says no to the first two requests, as a
//                                 tray that is not ready yet does
//   registry-writes deny|allow    takes from everyone (or gives back) the right to write values
//                                 in the program's registry key, as a locked-down profile does
//   other-window SECONDS X Y W H  another program's plain window there for SECONDS: "ready"
//                                 once shown, then a line "wheel" per wheel input it gets
#include <windows.h>

#include <commctrl.h>
#include <oleacc.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

HWND ApplicationWindow() { return FindWindowW(L"TApplication", L"Norvik Lirrin"); }

HWND Panel() {
  DWORD process = 0;
  const HWND application = ApplicationWindow();
  if (application == nullptr) return nullptr;
  GetWindowThreadProcessId(application, &process);
  for (HWND window = FindWindowExW(nullptr, nullptr, L"TMainForm", nullptr); window != nullptr;
       window = FindWindowExW(nullptr, window, L"TMainForm", nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == process) return window;
  }
  return nullptr;
}

void PrintRect(const char* name, HWND window) {
  RECT rect;
  GetWindowRect(window, &rect);
  std::printf(" %s=%ld,%ld,%ld,%ld", name, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

unsigned long Number(const char* text) { return std::strtoul(text, nullptr, 0); }

int Post(HWND target, int argc, char** argv) {
  if (target == nullptr || argc < 3) return 1;
  const WPARAM wParam = argc > 3 ? Number(argv[3]) : 0;
  const LPARAM lParam = argc > 4 ? static_cast<LPARAM>(Number(argv[4])) : 0;
  return PostMessageW(target, static_cast<UINT>(Number(argv[2])), wParam, lParam) ? 0 : 1;
}

int ShowPanel() {
  const HWND panel = Panel();
  if (panel == nullptr) return 1;
  std::printf("visible=%d", IsWindowVisible(panel) ? 1 : 0);
  PrintRect("rect", panel);
  RECT client;
  GetClientRect(panel, &client);
  const HWND application = ApplicationWindow();
  std::printf(" client=%ld,%ld foreground=%d application=%d xwindow=0x%lx handle=0x%lx\n", client.right,
              client.bottom, GetForegroundWindow() == panel ? 1 : 0,
              application != nullptr && IsWindowVisible(application) ? 1 : 0,
              static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(GetPropA(panel, "__wine_x11_whole_window"))),
              static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(panel)));
  return 0;
}

int WaitForPanelShown(int argc, char** argv) {
  if (argc < 3) return 2;
  const DWORD timeout = Number(argv[2]);
  const DWORD start = GetTickCount();
  for (;;) {
    const HWND panel = Panel();
    if (panel != nullptr && IsWindowVisible(panel)) return ShowPanel();
    if (GetTickCount() - start >= timeout) return 1;
    Sleep(10);
  }
}

int ShowControls() {
  const HWND panel = Panel();
  if (panel == nullptr) return 1;
  const HWND slider = FindWindowExW(panel, nullptr, TRACKBAR_CLASSW, nullptr);
  const HWND button = FindWindowExW(panel, nullptr, L"LirrinPictureButton", nullptr);
  if (slider == nullptr || button == nullptr) return 1;
  const LRESULT top = SendMessageW(slider, TBM_GETRANGEMAX, 0, 0);
  const LRESULT position = SendMessageW(slider, TBM_GETPOS, 0, 0);
  // The control with the keyboard focus, as the panel's thread has it.
  GUITHREADINFO thread{};
  thread.cbSize = sizeof thread;
  GetGUIThreadInfo(GetWindowThreadProcessId(panel, nullptr), &thread);
  const char* focus = thread.hwndFocus == slider ? "slider" : thread.hwndFocus == button ? "button" : "other";
  std::printf("slider=%d volume=%ld button=%d focus=%s", IsWindowEnabled(slider) ? 1 : 0,
              static_cast<long>(top - position), IsWindowEnabled(button) ? 1 : 0, focus);
  PrintRect("slider-rect", slider);
  PrintRect("button-rect", button);
  std::printf("\n");
  return 0;
}

std::string Underscored(BSTR text) {
  std::string result;
  for (const wchar_t* c = text; c != nullptr && *c != 0; ++c) result += *c == L' ' ? '_' : static_cast<char>(*c);
  return result;
}

int ShowAccessible() {
  const HWND panel = Panel();
  if (panel == nullptr) return 1;
  const HWND slider = FindWindowExW(panel, nullptr, TRACKBAR_CLASSW, nullptr);
  const HWND button = FindWindowExW(panel, nullptr, L"LirrinPictureButton", nullptr);
  if (slider == nullptr || button == nullptr || FAILED(CoInitialize(nullptr))) return 1;
  VARIANT self;
  VariantInit(&self);
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  const struct {
    const char* Name;
    HWND Window;
  } controls[] = {{"slider", slider}, {"button", button}};
  for (const auto& control : controls) {
    IAccessible* accessible = nullptr;
    if (FAILED(AccessibleObjectFromWindow(control.Window, static_cast<DWORD>(OBJID_CLIENT),
                                          __uuidof(IAccessible), reinterpret_cast<void**>(&accessible)))) {
      return 1;
    }
    BSTR name = nullptr, value = nullptr;
    accessible->get_accName(self, &name);
    std::printf("%s%s-name=%s", control.Window == slider ? "" : " ", control.Name, Underscored(name).c_str());
    if (control.Window == slider) {
      accessible->get_accValue(self, &value);
      std::printf(" slider-value=%s", Underscored(value).c_str());
    }
    SysFreeString(name);
    SysFreeString(value);
    accessible->Release();
  }
  std::printf("\n");
  CoUninitialize();
  return 0;
}

int ShowVersion() {
  const HWND panel = Panel();
  const HWND label = panel == nullptr ? nullptr : FindWindowExW(panel, nullptr, L"Static", nullptr);
  if (label == nullptr) return 1;
  char text[128] = {};
  GetWindowTextA(label, text, sizeof text);
  std::printf("visible=%d text=%s\n", IsWindowVisible(label) ? 1 : 0, text);
  return 0;
}

HWND TrayWindow() { return FindWindowW(nullptr, L"Wine System Tray"); }

int ShowTray() {
  const HWND tray = TrayWindow();
  if (tray == nullptr) return 1;
  std::printf("visible=%d", IsWindowVisible(tray) ? 1 : 0);
  PrintRect("rect", tray);
  std::printf("\n");
  return 0;
}

// A shown popup menu of the program's own process, not another program's.
int ShowMenu() {
  DWORD program = 0;
  const HWND application = ApplicationWindow();
  if (application == nullptr || GetWindowThreadProcessId(application, &program) == 0) return 1;
  HWND menu = nullptr;
  for (HWND window = FindWindowExW(nullptr, nullptr, L"#32768", nullptr); window != nullptr && menu == nullptr;
       window = FindWindowExW(nullptr, window, L"#32768", nullptr)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == program && IsWindowVisible(window)) menu = window;
  }
  if (menu == nullptr) return 1;
  std::printf("visible=1");
  PrintRect("rect", menu);
  std::printf("\n");
  return 0;
}

HWND ErrorBox(int argc, char** argv) { return argc < 3 ? nullptr : FindWindowA("#32770", argv[2]); }

int ShowErrorBox(int argc, char** argv) {
  const HWND box = ErrorBox(argc, argv);
  if (box == nullptr) return 1;
  // The message is the box's static control that holds text.
  for (HWND child = FindWindowExW(box, nullptr, L"Static", nullptr); child != nullptr;
       child = FindWindowExW(box, child, L"Static", nullptr)) {
    char text[256] = {};
    if (GetWindowTextA(child, text, sizeof text) > 0) {
      std::printf("text=%s\n", text);
      return 0;
    }
  }
  return 1;
}

int PressOk(int argc, char** argv) {
  const HWND box = ErrorBox(argc, argv);
  if (box == nullptr) return 1;
  return PostMessageW(box, WM_COMMAND, IDOK, 0) ? 0 : 1;
}

// What the system does at logoff: asks, then tells. The program ends while
// handling the second message, so its answer is not waited for long.
int EndSession() {
  const HWND application = ApplicationWindow();
  if (application == nullptr) return 1;
  DWORD_PTR answer = 0;
  SendMessageTimeoutW(application, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &answer);
  SendMessageTimeoutW(application, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &answer);
  return 0;
}

unsigned long long Milliseconds(const FILETIME& time) {
  return ((static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10000;
}

// CPU time of the whole process and of its user-interface thread (the one
// that owns the application window), and its private memory.
int ShowProcess() {
  const HWND application = ApplicationWindow();
  if (application == nullptr) return 1;
  DWORD processId = 0;
  const DWORD threadId = GetWindowThreadProcessId(application, &processId);
  const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
  const HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId);
  if (process == nullptr || thread == nullptr) return 1;
  FILETIME created, ended, kernel, user, threadKernel, threadUser;
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (!GetProcessTimes(process, &created, &ended, &kernel, &user) ||
      !GetThreadTimes(thread, &created, &ended, &threadKernel, &threadUser) ||
      !GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
    return 1;
  }
  std::printf("cpu_ms=%llu ui_thread_ms=%llu private_kb=%lu pagefile_kb=%lu working_set_kb=%lu\n",
              Milliseconds(kernel) + Milliseconds(user), Milliseconds(threadKernel) + Milliseconds(threadUser),
              static_cast<unsigned long>(memory.PrivateUsage / 1024),
              static_cast<unsigned long>(memory.PagefileUsage / 1024),
              static_cast<unsigned long>(memory.WorkingSetSize / 1024));
  CloseHandle(thread);
  CloseHandle(process);
  return 0;
}

int ShowConsole() {
  const HWND application = ApplicationWindow();
  if (application == nullptr) return 1;
  DWORD process = 0;
  GetWindowThreadProcessId(application, &process);
  FreeConsole();
  if (!AttachConsole(process)) return 1;
  const HANDLE screen = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (screen == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(screen, &info)) return 1;
  std::string lines;
  for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
    std::string line(static_cast<std::size_t>(info.dwSize.X), ' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterA(screen, line.data(), static_cast<DWORD>(line.size()), COORD{0, row}, &read);
    line.resize(read);
    line.erase(line.find_last_not_of(' ') + 1);
    lines += line + "\n";
  }
  FreeConsole();
  // Standard output went with the console; the lines go to a file instead.
  const char* target = std::getenv("LIRRIN_PROBE_OUTPUT");
  if (target == nullptr) return 1;
  FILE* file = std::fopen(target, "w");
  if (file == nullptr) return 1;
  std::fputs(lines.c_str(), file);
  std::fclose(file);
  return 0;
}

int HoldSMBusLock(int argc, char** argv) {
  if (argc < 3) return 2;
  const HANDLE mutex = CreateMutexA(nullptr, FALSE, "Global\\Access_SMBUS.HTP.Method");
  if (mutex == nullptr) return 1;
  const DWORD taken = WaitForSingleObject(mutex, 10000);
  if (taken != WAIT_OBJECT_0 && taken != WAIT_ABANDONED) return 1;
  std::printf("held\n");
  std::fflush(stdout);
  Sleep(Number(argv[2]) * 1000);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
  std::printf("released\n");
  return 0;
}

// What a user feels: how long the thread that owns the windows takes to
// answer. A message sent to the application window waits until that thread
// gets back to its loop.
int Latency(int argc, char** argv) {
  const HWND application = ApplicationWindow();
  if (application == nullptr || argc < 3) return 1;
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  const double seconds = std::strtod(argv[2], nullptr);
  std::vector<double> samples;
  QueryPerformanceCounter(&start);
  for (;;) {
    LARGE_INTEGER before, after;
    QueryPerformanceCounter(&before);
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(application, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &answer)) return 1;
    QueryPerformanceCounter(&after);
    samples.push_back(static_cast<double>(after.QuadPart - before.QuadPart) * 1000.0 / frequency.QuadPart);
    QueryPerformanceCounter(&now);
    if (static_cast<double>(now.QuadPart - start.QuadPart) / frequency.QuadPart >= seconds) break;
    Sleep(10);
  }
  std::sort(samples.begin(), samples.end());
  const auto at = [&](double fraction) {
    return samples[std::min(samples.size() - 1, static_cast<std::size_t>(fraction * samples.size()))];
  };
  std::printf("samples=%u median_ms=%.1f p99_ms=%.1f worst_ms=%.1f\n", static_cast<unsigned>(samples.size()),
              at(0.5), at(0.99), samples.back());
  return 0;
}

int EndTray() {
  const HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
  if (tray == nullptr) return 1;
  DWORD processId = 0;
  GetWindowThreadProcessId(tray, &processId);
  const HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId);
  if (process == nullptr) return 1;
  const bool ended = TerminateProcess(process, 0) && WaitForSingleObject(process, 10000) == WAIT_OBJECT_0;
  CloseHandle(process);
  return ended ? 0 : 1;
}

// The window Shell_NotifyIcon looks for: Wine's shell32, like Windows',
// finds it by class and hands the request over in WM_COPYDATA, the
// request's code in dwData and (under Wine) the icon's owner in wParam.
int StandInRefusals = 0;  // requests the stand-in tray still says no to

LRESULT CALLBACK StandInTrayProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    static const char* const kRequests[] = {"add", "modify", "delete", "focus", "version"};
    const char* request = data->dwData < 5 ? kRequests[data->dwData] : "other";
    const bool refused = StandInRefusals > 0;
    if (refused) --StandInRefusals;
    std::printf("%s owner=0x%lx%s\n", request, static_cast<unsigned long>(wParam), refused ? " refused" : "");
    std::fflush(stdout);
    return refused ? FALSE : TRUE;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

int StandInTray(int argc, char** argv) {
  if (argc < 3 || TrayWindow() != nullptr || FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr) return 1;
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = StandInTrayProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"Shell_TrayWnd";
  if (RegisterClassW(&windowClass) == 0) return 1;
  const HWND tray = CreateWindowW(L"Shell_TrayWnd", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
  if (tray == nullptr) return 1;
  bool announce = false;
  for (int i = 3; i < argc; ++i) {
    if (std::string(argv[i]) == "new") announce = true;
    if (std::string(argv[i]) == "refuse-first") StandInRefusals = 2;
  }
  std::printf("ready\n");
  std::fflush(stdout);
  if (announce) PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  SetTimer(tray, 1, Number(argv[2]) * 1000, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0 && message.message != WM_TIMER) DispatchMessageW(&message);
  DestroyWindow(tray);
  return 0;
}

// The key's list: everyone may read it, change its list and delete it, and
// with "allow" set its values too.
int RegistryWrites(int argc, char** argv) {
  if (argc < 3) return 1;
  const bool allow = std::string(argv[2]) == "allow";
  HKEY key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Norvik\\Lirrin", 0, nullptr, 0, READ_CONTROL | WRITE_DAC,
                      nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return 1;
  }
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
  const DWORD rights = KEY_READ | WRITE_DAC | DELETE | (allow ? KEY_ALL_ACCESS : 0);
  alignas(DWORD) BYTE aclBytes[256];
  auto* acl = reinterpret_cast<PACL>(aclBytes);
  SECURITY_DESCRIPTOR descriptor;
  const bool set = everyone != nullptr && InitializeAcl(acl, sizeof aclBytes, ACL_REVISION) &&
                   AddAccessAllowedAce(acl, ACL_REVISION, rights, everyone) &&
                   InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
                   SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE) &&
                   RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
  if (everyone != nullptr) FreeSid(everyone);
  RegCloseKey(key);
  return set ? 0 : 1;
}

LRESULT CALLBACK OtherWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_MOUSEWHEEL) {
    std::printf("wheel\n");
    std::fflush(stdout);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

int OtherWindow(int argc, char** argv) {
  if (argc < 7) return 1;
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = OtherWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
  windowClass.lpszClassName = L"ProbeOtherWindow";
  if (RegisterClassW(&windowClass) == 0) return 1;
  const HWND window = CreateWindowW(L"ProbeOtherWindow", L"Another program", WS_POPUP | WS_BORDER,
                                    static_cast<int>(Number(argv[3])), static_cast<int>(Number(argv[4])),
                                    static_cast<int>(Number(argv[5])), static_cast<int>(Number(argv[6])), nullptr,
                                    nullptr, windowClass.hInstance, nullptr);
  if (window == nullptr) return 1;
  // The wheel goes to the window that has the keyboard.
  ShowWindow(window, SW_SHOW);
  SetForegroundWindow(window);
  UpdateWindow(window);
  std::printf("ready\n");
  std::fflush(stdout);
  SetTimer(window, 1, Number(argv[2]) * 1000, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0 && message.message != WM_TIMER) DispatchMessageW(&message);
  DestroyWindow(window);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string command = argv[1];
  if (command == "post") return Post(ApplicationWindow(), argc, argv);
  if (command == "post-panel") return Post(Panel(), argc, argv);
  if (command == "panel") return ShowPanel();
  if (command == "panel-shown") return WaitForPanelShown(argc, argv);
  if (command == "controls") return ShowControls();
  if (command == "version") return ShowVersion();
  if (command == "accessible") return ShowAccessible();
  if (command == "tray") return ShowTray();
  if (command == "menu") return ShowMenu();
  if (command == "error-box") return ShowErrorBox(argc, argv);
  if (command == "press-ok") return PressOk(argc, argv);
  if (command == "end-session") return EndSession();
  if (command == "console") return ShowConsole();
  if (command == "process") return ShowProcess();
  if (command == "hold-smbus-lock") return HoldSMBusLock(argc, argv);
  if (command == "latency") return Latency(argc, argv);
  if (command == "end-tray") return EndTray();
  if (command == "stand-in-tray") return StandInTray(argc, argv);
  if (command == "other-window") return OtherWindow(argc, argv);
  if (command == "registry-writes") return RegistryWrites(argc, argv);
  return 2;
}
