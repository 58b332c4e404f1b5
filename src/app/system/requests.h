#pragma once
// How other processes reach the running program: they find its application
// window by this class and the application title, and post it one of the
// private messages below, whatever their parameters: close the program,
// bring the panel back from the tray, remove the start at logon (the
// program keeps running).

namespace lirrin {

constexpr const wchar_t* kApplicationWindowClass = L"TApplication";

constexpr unsigned kCloseRequest = 0x81F4;
constexpr unsigned kRestoreRequest = 0x81F5;
constexpr unsigned kRemoveLogonRequest = 0x81F6;

}  // namespace lirrin
