; Norvik Lirrin installer: installs, upgrades and removes the tray program.
;
; The program leaves its driver service and driver file installed and a
; logon start registered when it ends (so the next start is fast); this
; script is the only thing that takes them away. It also removes them before
; an upgrade, because the program never replaces a driver file that exists:
; without that, a new program would keep talking to the old driver.
;
; One script makes both installers: the 32-bit one (for Windows XP SP3 and
; later, 32- or 64-bit) installs the 32-bit program, the 64-bit one (for
; 64-bit Windows 7 and later) the 64-bit program, in the 64-bit Program
; Files, with its driver in the real System32\Drivers. Only one of them is
; installed at a time: each removes an installation the other made.
;
; Defines passed by the build (makensis -D...):
;   ARCH          x86 or x64: the program's and the installer's own
;   VERSION       product version, major.minor.patch
;   PROGRAM_EXE   the program to install as Lirrin.exe
;   DOC_DIR       folder holding README.md and script-language.md
;   LICENSE_FILE  the license text
;   ICON_FILE     (optional) the program icon, for the installer's own window
;   OUT_FILE      the installer to write

!if ${ARCH} == x64
  Target amd64-unicode
  ; RunningX64 is a constant in a 64-bit installer, which leaves the other
  ; branch of each test of it unreferenced.
  !pragma warning disable 6012
  ; The 64-bit program's registry view and Program Files; the 32-bit
  ; build's installation is recorded in the 32-bit view.
  !define OWN_REG_VIEW 64
  !define OTHER_REG_VIEW 32
  !define PROGRAM_FILES "$PROGRAMFILES64"
!else if ${ARCH} == x86
  Unicode true
  ; A 32-bit process's own view is the 32-bit one; XP has no other.
  !define OWN_REG_VIEW default
  !define OTHER_REG_VIEW 64
  !define PROGRAM_FILES "$PROGRAMFILES"
!else
  !error "ARCH must be x86 or x64"
!endif
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestSupportedOS all

!include MUI2.nsh
!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh
!include WinVer.nsh
!if ${ARCH} == x64
  !include StrFunc.nsh
  ${StrStr}
!endif

!define PRODUCT "Norvik Lirrin"
!define PUBLISHER "Norvik"
!define PROGRAM "Lirrin.exe"
!define UNINSTALLER "Uninstall.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
!define SETTINGS_KEY "Software\Norvik\Lirrin"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define DRIVER "NvkDrv101"
!define START_MENU_DIR "$SMPROGRAMS\${PRODUCT}"

; The running program's hidden application window and its close request.
!define APP_WINDOW_CLASS "TApplication"
!define WM_LIRRIN_CLOSE 0x81F4

; How long an upgrade or an uninstall waits for a running copy to end, in
; steps of 100 ms.
!define WAIT_STEPS 150
; How long it spends on the driver service in all, in milliseconds.
!define DRIVER_REMOVAL_MS 30000
; The standard exit code of a silent run whose work completes at the next
; restart, and that of a run refused for want of administrator rights.
!define EXIT_RESTART_REQUIRED 3010
!define EXIT_ELEVATION_REQUIRED 740

Name "${PRODUCT}"
OutFile "${OUT_FILE}"
InstallDir "${PROGRAM_FILES}\Norvik\Lirrin"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

!ifdef ICON_FILE
  !define MUI_ICON "${ICON_FILE}"
  !define MUI_UNICON "${ICON_FILE}"
!endif
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN "$INSTDIR\${PROGRAM}"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT}"

!insertmacro MUI_PAGE_LICENSE "${LICENSE_FILE}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_UNPAGE_FINISH

!insertmacro MUI_LANGUAGE "English"

; Asks every running copy to quit and waits until all have ended, so their
; files can be replaced or removed. The copy of this session is found by its
; application window; the installed program's own "/UNINSTALL" switch posts
; it the close request, and a copy started from another folder gets the same
; request directly. Copies in other sessions (another user's, or the user's
; own when this runs as SYSTEM from a deployment tool) have no window here:
; every copy holds a global mutex named after its file and quits when the
; global close event is set. Each copy holds a session mutex and the global
; one for as long as it runs, which tells when it has really ended (its
; window goes first). Used by the installer and the uninstaller alike,
; hence the macro.
!macro StopRunningCopy UN
Function ${UN}StopRunningCopy
  FindWindow $0 "${APP_WINDOW_CLASS}" "${PRODUCT}"
  ${If} $0 != 0
    ${If} ${FileExists} "$INSTDIR\${PROGRAM}"
      ExecWait '"$INSTDIR\${PROGRAM}" /UNINSTALL'
    ${Else}
      System::Call 'user32::PostMessage(p r0, i ${WM_LIRRIN_CLOSE}, p 0, p 0)'
    ${EndIf}
  ${EndIf}
  StrCpy $3 0
  StrCpy $1 0
  ${Do}
    ; EVENT_MODIFY_STATE. The event exists while any copy runs; a copy
    ; that is still starting creates it a moment later.
    ${If} $3 == 0
      System::Call 'kernel32::OpenEvent(i 0x0002, i 0, t "Global\${PROGRAM} close") p.r3'
      ${If} $3 != 0
        System::Call 'kernel32::SetEvent(p r3) i'
      ${EndIf}
    ${EndIf}
    Call ${UN}CopyStillRunning
    ${If} $4 == ""
      ${Break}
    ${EndIf}
    IntOp $1 $1 + 1
    ${If} $1 >= ${WAIT_STEPS}
      MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} is still running $4 and did not quit. Close it there from its tray icon (Exit), or end Lirrin.exe in Task Manager, and try again." /SD IDOK
      SetErrorLevel 3
      Quit
    ${EndIf}
    Sleep 100
  ${Loop}
  ; Reset, so that the program started later does not quit at once (the
  ; event goes with its last handle anyway).
  ${If} $3 != 0
    System::Call 'kernel32::ResetEvent(p r3) i'
    System::Call 'kernel32::CloseHandle(p r3) i'
  ${EndIf}
FunctionEnd

; $4: where a copy still runs ("in this session", "in another user's
; session"), or "" when none does. SYNCHRONIZE access only: opening tells
; that the mutex still exists.
Function ${UN}CopyStillRunning
  StrCpy $4 ""
  System::Call 'kernel32::OpenMutex(i 0x00100000, i 0, t "${PROGRAM}") p.r2'
  ${If} $2 != 0
    System::Call 'kernel32::CloseHandle(p r2)'
    StrCpy $4 "in this session"
    Return
  ${EndIf}
  System::Call 'kernel32::OpenMutex(i 0x00100000, i 0, t "Global\${PROGRAM}") p.r2'
  ${If} $2 != 0
    System::Call 'kernel32::CloseHandle(p r2)'
    StrCpy $4 "in another user's session"
  ${EndIf}
FunctionEnd
!macroend
!insertmacro StopRunningCopy ""
!insertmacro StopRunningCopy "un."

; Stops and deletes the driver service and deletes the driver file the
; program wrote. A 32-bit program on 64-bit Windows writes its driver to the
; Windows folder's SysWOW64\Drivers (the path the service names), a 64-bit
; program to the real System32\Drivers, a program on 32-bit Windows to the
; system folder's Drivers. On 64-bit Windows both places are cleared, since
; either build may have been installed. The service is stopped before the
; file is deleted, since a loaded driver keeps its file open.
!macro RemoveDriver UN
Function ${UN}RemoveDriver
  ; Bounded in all: a service that does not stop in time (another process
  ; holds its device open) or that stays after its deletion (it is marked
  ; for deletion while another process holds a handle to it) is left to the
  ; next restart, which removes it; its file is then deleted at restart too.
  System::Call 'kernel32::GetTickCount() i.r7'
  ${Do}
    Call ${UN}DeleteDriverService
    ${IfThen} $0 == 0 ${|} ${Break} ${|}
    Call ${UN}DriverTimeLeft
    ${If} $8 <= 0
      DetailPrint "The driver service ${DRIVER} does not go away; it is removed at the next restart."
      SetRebootFlag true
      ${Break}
    ${EndIf}
    Sleep 500
  ${Loop}
  ${If} ${RunningX64}
    Delete /REBOOTOK "$WINDIR\SysWOW64\Drivers\${DRIVER}.sys"
    ; (A 32-bit installer sees SysWOW64 under the name System32 unless
    ; redirection is off; a 64-bit one sees the real folder anyway.)
    ${DisableX64FSRedirection}
    Delete /REBOOTOK "$WINDIR\System32\Drivers\${DRIVER}.sys"
    ${EnableX64FSRedirection}
  ${Else}
    Delete /REBOOTOK "$SYSDIR\Drivers\${DRIVER}.sys"
  ${EndIf}
  ${If} ${RebootFlag}
    DetailPrint "The driver file is deleted at the next restart."
  ${EndIf}
FunctionEnd

; $8: milliseconds left of the driver's time, counted from $7.
Function ${UN}DriverTimeLeft
  System::Call 'kernel32::GetTickCount() i.r8'
  IntOp $8 $8 - $7
  IntOp $8 ${DRIVER_REMOVAL_MS} - $8
FunctionEnd

; One attempt: stop the service, wait until it has stopped (within the
; driver's time), delete it. $0 is 0 when there was no service left.
Function ${UN}DeleteDriverService
  ; SC_MANAGER_ALL_ACCESS, SERVICE_ALL_ACCESS
  System::Call 'advapi32::OpenSCManager(p 0, p 0, i 0xF003F) p.r1'
  StrCpy $0 0
  ${If} $1 != 0
    System::Call 'advapi32::OpenService(p r1, t "${DRIVER}", i 0xF01FF) p.r0'
    ${If} $0 != 0
      DetailPrint "Stopping and removing the driver service ${DRIVER}"
      ; SERVICE_STATUS: seven dwords; the second is the current state.
      System::Call '*(i, i, i, i, i, i, i) p.r2'
      System::Call 'advapi32::ControlService(p r0, i 1, p r2) i'
      ${Do}
        System::Call 'advapi32::QueryServiceStatus(p r0, p r2) i.r4'
        System::Call '*$2(i, i .r5)'
        ; SERVICE_STOPPED is 1; a service that cannot report is given up on.
        ${If} $4 == 0
        ${OrIf} $5 == 1
          ${Break}
        ${EndIf}
        Call ${UN}DriverTimeLeft
        ${IfThen} $8 <= 0 ${|} ${Break} ${|}
        Sleep 100
      ${Loop}
      System::Free $2
      System::Call 'advapi32::DeleteService(p r0) i'
      System::Call 'advapi32::CloseServiceHandle(p r0) i'
    ${EndIf}
    System::Call 'advapi32::CloseServiceHandle(p r1) i'
  ${EndIf}
FunctionEnd
!macroend
!insertmacro RemoveDriver ""
!insertmacro RemoveDriver "un."

; The files an installation holds, and its folder and the Norvik folder
; above it when they are left empty.
!macro RemoveProgramFolder DIR
  Delete "${DIR}\${PROGRAM}"
  Delete "${DIR}\License.txt"
  Delete "${DIR}\README.md"
  Delete "${DIR}\script-language.md"
  Delete "${DIR}\Setup.log"
  Delete "${DIR}\${UNINSTALLER}"
  RMDir "${DIR}"
  RMDir "${DIR}\.."
!macroend

; A start at logon left registered with no copy running (a logoff or
; shutdown ends the program without its close handling): both forms, the
; Run value (named up to the file's first dot) and the logon task (named
; before its last dot); the one not in use is absent.
!macro RemoveLeftLogonStart
  DeleteRegValue HKCU "${RUN_KEY}" "Lirrin"
  nsExec::Exec '"$SYSDIR\schtasks.exe" /Delete /TN Lirrin /F'
  Pop $1
!macroend

; The installation the other build's installer made, if any: its uninstall
; entry is in the other registry view. Its running copy has been asked to
; quit and the driver is removed by the caller; this takes away its files,
; folder and uninstall entry, and a logon start a logoff left registered for
; its program (the new program registers its own when it runs). The
; Start menu entry is the same for both and is written anew. The user's
; setting is kept.
Function RemoveOtherBuild
  ${IfNotThen} ${RunningX64} ${|} Return ${|}
  SetRegView ${OTHER_REG_VIEW}
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
    DetailPrint "Removing the other build's installation in $0"
    !insertmacro RemoveProgramFolder "$0"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    !insertmacro RemoveLeftLogonStart
  ${EndIf}
  SetRegView ${OWN_REG_VIEW}
FunctionEnd

; Installing and removing need administrator rights (Program Files, the
; driver service, HKLM). A limited account is refused before anything is
; touched; on Vista and later the manifest's request makes Windows ask for
; an administrator's consent first.
!macro RequireAdministrator
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "Admin"
    MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} can only be installed or removed by an administrator. Sign in with an administrator account, or right-click the program and choose Run as administrator." /SD IDOK
    SetErrorLevel ${EXIT_ELEVATION_REQUIRED}
    Quit
  ${EndIf}
!macroend

!if ${ARCH} == x64
Var DriverRefusal  ; why Windows will not load the driver, for Setup.log; empty when it will

; 64-bit Windows loads this release's test-signed driver only in
; test-signing mode, which bcdedit records in SystemStartOptions at boot.
; Without it the program installs and runs but cannot reach the amplifier:
; the user is told before anything is installed and may go on or cancel; a
; silent install goes on (its exit code is as before) and says the same in
; Setup.log in the program's folder.
Function WarnIfTheDriverWillBeRefused
  ReadRegStr $0 HKLM "SYSTEM\CurrentControlSet\Control" "SystemStartOptions"
  ${StrStr} $1 "$0" "TESTSIGNING"
  ${If} $1 != ""
    Return
  ${EndIf}
  StrCpy $DriverRefusal "Windows will not load this release's driver: 64-bit Windows loads a test-signed driver only in test-signing mode, which is off on this system. ${PRODUCT} installs and runs, but cannot reach the amplifier until test-signing mode is on (as administrator: bcdedit /set testsigning on, then restart; Secure Boot must be off, and Windows then shows $\"Test Mode$\" on the desktop) or a release whose driver Microsoft has signed is installed."
  MessageBox MB_YESNO|MB_ICONEXCLAMATION "$DriverRefusal$\n$\nInstall anyway?" /SD IDYES IDYES +3
    SetErrorLevel 1
    Quit
FunctionEnd
!endif

Function .onInit
  !insertmacro RequireAdministrator
  !if ${ARCH} == x64
    ${IfNot} ${RunningX64}
    ${OrIfNot} ${AtLeastWin7}
      MessageBox MB_ICONSTOP|MB_OK "This installer is for 64-bit Windows 7 and later. Use Lirrin-setup.exe on other systems." /SD IDOK
      SetErrorLevel 1
      Quit
    ${EndIf}
    Call WarnIfTheDriverWillBeRefused
  !endif
  SetRegView ${OWN_REG_VIEW}
FunctionEnd


Var WasRunning

; Puts one file in place or fails the install: NSIS would otherwise skip a
; file it cannot write (silently, in a silent install), leaving the old
; program while the new version is recorded. A file is held open by a copy
; the installer cannot see (in another session, or under another name).
!macro PlaceFile SOURCE NAME
  ${Do}
    ClearErrors
    SetOverwrite try
    File "/oname=${NAME}" "${SOURCE}"
    SetOverwrite on
    ${IfNot} ${Errors}
      ${Break}
    ${EndIf}
    DetailPrint "$INSTDIR\${NAME} is in use and cannot be replaced."
    ${IfNot} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONSTOP "$INSTDIR\${NAME} is in use by another program and cannot be replaced. Close ${PRODUCT} wherever it runs (another user's session included) and choose Retry." /SD IDCANCEL IDRETRY`
      Abort "$INSTDIR\${NAME} could not be replaced; nothing was changed."
    ${EndIf}
  ${Loop}
!macroend

Section "${PRODUCT}" SecProgram
  SectionIn RO
  SetShellVarContext all

  ; A silent upgrade brings back the copy it stopped, so the user keeps a
  ; running tray program.
  FindWindow $0 "${APP_WINDOW_CLASS}" "${PRODUCT}"
  ${If} $0 != 0
    StrCpy $WasRunning 1
  ${EndIf}
  Call StopRunningCopy
  Call RemoveDriver
  Call RemoveOtherBuild

  SetOutPath "$INSTDIR"
  !insertmacro PlaceFile "${PROGRAM_EXE}" "${PROGRAM}"
  !insertmacro PlaceFile "${LICENSE_FILE}" "License.txt"
  !insertmacro PlaceFile "${DOC_DIR}/README.md" "README.md"
  !insertmacro PlaceFile "${DOC_DIR}/script-language.md" "script-language.md"
  Delete "$INSTDIR\Setup.log"
  !if ${ARCH} == x64
    ${If} $DriverRefusal != ""
      DetailPrint "$DriverRefusal"
      FileOpen $0 "$INSTDIR\Setup.log" w
      FileWrite $0 "$DriverRefusal$\r$\n"
      FileClose $0
    ${EndIf}
  !endif
  ; The version is recorded only once every file has landed.
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  CreateDirectory "${START_MENU_DIR}"
  CreateShortCut "${START_MENU_DIR}\${PRODUCT}.lnk" "$INSTDIR\${PROGRAM}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\${PROGRAM},0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" "$0"
SectionEnd

Function .onInstSuccess
  ${If} $WasRunning == 1
  ${AndIf} ${Silent}
    Exec '"$INSTDIR\${PROGRAM}"'
  ${EndIf}
  ${If} ${RebootFlag}
  ${AndIf} ${Silent}
    SetErrorLevel ${EXIT_RESTART_REQUIRED}
  ${EndIf}
FunctionEnd

Function un.onUninstSuccess
  ${If} ${RebootFlag}
  ${AndIf} ${Silent}
    SetErrorLevel ${EXIT_RESTART_REQUIRED}
  ${EndIf}
FunctionEnd

Section "un.${PRODUCT}" SecUnProgram
  SectionIn RO
  SetShellVarContext all

  ; A running copy removes its own logon start as it closes; one left with
  ; no copy running in this session is taken away here. Then every copy, in
  ; any session, is asked to quit.
  FindWindow $0 "${APP_WINDOW_CLASS}" "${PRODUCT}"
  ${If} $0 == 0
    !insertmacro RemoveLeftLogonStart
  ${EndIf}
  Call un.StopRunningCopy
  Call un.RemoveDriver

  !insertmacro RemoveProgramFolder "$INSTDIR"

  Delete "${START_MENU_DIR}\${PRODUCT}.lnk"
  RMDir "${START_MENU_DIR}"

  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

; Unticked by default, so a silent uninstall keeps the user's setting.
Section /o "un.Remove my volume setting" SecUnSettings
  DeleteRegKey HKCU "${SETTINGS_KEY}"
  DeleteRegKey /ifempty HKCU "Software\Norvik"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUnProgram} "The program, its driver and its start at logon."
  !insertmacro MUI_DESCRIPTION_TEXT ${SecUnSettings} "The volume and mute setting kept for your user account."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

; (After the sections: it selects one of them.)
Function un.onInit
  !insertmacro RequireAdministrator
  SetRegView ${OWN_REG_VIEW}
  ; "/REMOVESETTINGS" ticks "Remove my volume setting", for a silent removal
  ; that should leave nothing behind.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/REMOVESETTINGS" $1
  ${IfNot} ${Errors}
    SectionSetFlags ${SecUnSettings} ${SF_SELECTED}
  ${EndIf}
FunctionEnd
