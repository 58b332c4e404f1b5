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

; How long an upgrade or an uninstall waits for a running copy to end, and
; for the driver service to stop, in steps of 100 ms.
!define WAIT_STEPS 150

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

!insertmacro MUI_LANGUAGE "English"

; Asks a running copy to quit and waits until it has ended, so its files can
; be replaced or removed. The copy is found by its application window; the
; installed program's own "/UNINSTALL" switch posts it the close request, and
; a copy started from another folder gets the same request directly. The
; program holds a mutex named after its file for as long as it runs, which
; tells when it has really ended (its window goes first). Used by the
; installer and the uninstaller alike, hence the macro.
!macro StopRunningCopy UN
Function ${UN}StopRunningCopy
  FindWindow $0 "${APP_WINDOW_CLASS}" "${PRODUCT}"
  ${If} $0 == 0
    Return
  ${EndIf}
  ${If} ${FileExists} "$INSTDIR\${PROGRAM}"
    ExecWait '"$INSTDIR\${PROGRAM}" /UNINSTALL'
  ${Else}
    System::Call 'user32::PostMessage(p r0, i ${WM_LIRRIN_CLOSE}, p 0, p 0)'
  ${EndIf}
  StrCpy $1 0
  ${Do}
    ; SYNCHRONIZE access only: opening tells that the mutex still exists.
    System::Call 'kernel32::OpenMutex(i 0x00100000, i 0, t "${PROGRAM}") p.r2'
    ${If} $2 == 0
      Return
    ${EndIf}
    System::Call 'kernel32::CloseHandle(p r2)'
    IntOp $1 $1 + 1
    ${If} $1 >= ${WAIT_STEPS}
      MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} is still running and did not quit. Close it from its tray icon and try again." /SD IDOK
      SetErrorLevel 3
      Quit
    ${EndIf}
    Sleep 100
  ${Loop}
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
  ; Until the service is gone, bounded: a service manager that is still
  ; busy with the service (another process's handle, a pending stop) may
  ; keep it after one deletion.
  StrCpy $6 0
  ${Do}
    Call ${UN}DeleteDriverService
    ${IfThen} $0 == 0 ${|} ${Break} ${|}
    IntOp $6 $6 + 1
    ${IfThen} $6 >= ${WAIT_STEPS} ${|} ${Break} ${|}
    Sleep 100
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
FunctionEnd

; One attempt: stop the service, wait until it has stopped, delete it.
; $0 is 0 when there was no service left to delete.
Function ${UN}DeleteDriverService
  ; SC_MANAGER_ALL_ACCESS, SERVICE_ALL_ACCESS
  System::Call 'advapi32::OpenSCManager(p 0, p 0, i 0xF003F) p.r1'
  StrCpy $0 0
  ${If} $1 != 0
    System::Call 'advapi32::OpenService(p r1, t "${DRIVER}", i 0xF01FF) p.r0'
    ${If} $0 != 0
      ; SERVICE_STATUS: seven dwords; the second is the current state.
      System::Call '*(i, i, i, i, i, i, i) p.r2'
      System::Call 'advapi32::ControlService(p r0, i 1, p r2) i'
      StrCpy $3 0
      ${Do}
        System::Call 'advapi32::QueryServiceStatus(p r0, p r2) i.r4'
        System::Call '*$2(i, i .r5)'
        ; SERVICE_STOPPED is 1; a service that cannot report is given up on.
        ${If} $4 == 0
        ${OrIf} $5 == 1
          ${Break}
        ${EndIf}
        IntOp $3 $3 + 1
        ${IfThen} $3 >= ${WAIT_STEPS} ${|} ${Break} ${|}
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
    Delete "$0\${PROGRAM}"
    Delete "$0\License.txt"
    Delete "$0\README.md"
    Delete "$0\script-language.md"
    Delete "$0\${UNINSTALLER}"
    RMDir "$0"
    RMDir "$0\.."
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    DeleteRegValue HKCU "${RUN_KEY}" "Lirrin"
    nsExec::Exec '"$SYSDIR\schtasks.exe" /Delete /TN Lirrin /F'
    Pop $1
  ${EndIf}
  SetRegView ${OWN_REG_VIEW}
FunctionEnd

Function .onInit
  !if ${ARCH} == x64
    ${IfNot} ${RunningX64}
    ${OrIfNot} ${AtLeastWin7}
      MessageBox MB_ICONSTOP|MB_OK "This installer is for 64-bit Windows 7 and later. Use Lirrin-setup.exe on other systems." /SD IDOK
      SetErrorLevel 1
      Quit
    ${EndIf}
  !endif
  SetRegView ${OWN_REG_VIEW}
FunctionEnd

Function un.onInit
  SetRegView ${OWN_REG_VIEW}
FunctionEnd

Var WasRunning

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
  File "/oname=${PROGRAM}" "${PROGRAM_EXE}"
  File "/oname=License.txt" "${LICENSE_FILE}"
  File "${DOC_DIR}/README.md"
  File "${DOC_DIR}/script-language.md"
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
FunctionEnd

Section "un.${PRODUCT}" SecUnProgram
  SectionIn RO
  SetShellVarContext all

  ; A running copy removes its own logon start as it closes. When none runs,
  ; a start registered before a logoff or shutdown is still there: take away
  ; both forms, the Run value (named up to the file's first dot) and the
  ; logon task (named before its last dot); the one not in use is absent.
  FindWindow $0 "${APP_WINDOW_CLASS}" "${PRODUCT}"
  ${If} $0 != 0
    Call un.StopRunningCopy
  ${Else}
    DeleteRegValue HKCU "${RUN_KEY}" "Lirrin"
    nsExec::Exec '"$SYSDIR\schtasks.exe" /Delete /TN Lirrin /F'
    Pop $0
  ${EndIf}
  Call un.RemoveDriver

  Delete "$INSTDIR\${PROGRAM}"
  Delete "$INSTDIR\License.txt"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\script-language.md"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"
  RMDir "$INSTDIR\.."

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
