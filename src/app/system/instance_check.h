#pragma once
// One copy of the program per logon session. A named mutex marks the
// running copy; its name is the program's file name as started (folder
// dropped, extension and letter case kept), without a namespace prefix, so
// it is private to the session and two differently named copies of the
// file run side by side. The command line, the program's own path included,
// is searched upper-cased for "/DEBUG" and "/UNINSTALL" anywhere.
//
// The installer must also find, and ask to quit, copies in other logon
// sessions (another user's, or the user's own while a deployment tool runs
// as SYSTEM), which it cannot reach by their windows. So every copy also
// holds a mutex of the same name in the global namespace for as long as it
// runs, and closes when the global event "<name> close" is set.

#include <windows.h>

#include <string>

namespace lirrin {

// The mutex name for a program path: the text after the last backslash.
std::string InstanceMutexName(const std::string& modulePath);

// The global names of a copy whose session mutex is `mutexName`.
std::string GlobalInstanceName(const std::string& mutexName);
std::string GlobalCloseEventName(const std::string& mutexName);

struct TInstanceSwitches {
  bool Debug = false;
  bool Uninstall = false;
};
TInstanceSwitches ParseInstanceSwitches(const std::string& commandLine);

// Runs the check (creating the debug console as the switches say) and
// answers whether this copy goes on. A copy that stops has either found
// another one running (with "/UNINSTALL" it asks that one to close) or had
// nothing to uninstall. A copy that goes on holds the mutex until it ends.
// A copy that finds one that is ending (EndingNow) first waits for it to
// go, for a bounded time, and then goes on in its place.
bool RunInstanceCheck(const std::wstring& applicationTitle);

// The session's name of the event that a copy sets when it begins to end.
std::string EndingEventName(const std::string& mutexName);
// Tells copies started from now on that this one is ending.
void EndingNow();

// Posts the close request to `applicationWindow` once the global close event
// is set (from a thread of its own that waits for it). Without the event
// (no right to the global namespace) it does nothing.
void AnswerGlobalCloseRequest(HWND applicationWindow);

}  // namespace lirrin
