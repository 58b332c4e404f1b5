#pragma once
// The private messages other processes post to the application window,
// whatever their parameters: close the program, bring the panel back from
// the tray, remove the start at logon (the program keeps running).

namespace lirrin {

constexpr unsigned kCloseRequest = 0x81F4;
constexpr unsigned kRestoreRequest = 0x81F5;
constexpr unsigned kRemoveLogonRequest = 0x81F6;

}  // namespace lirrin
