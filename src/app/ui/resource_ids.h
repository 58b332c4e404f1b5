#pragma once
// Resource identifiers of the tray program, shared by its resource script
// and its code.

#define IDI_MAINICON 1     // the program icon: tray icon, task bar, file
#define IDP_NOT_MUTED 101  // 128x128 PNG: the mute button, not muted
#define IDP_MUTED 102      // 128x128 PNG: the mute button, muted
