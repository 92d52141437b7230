; The Windows installer of hpvisit (NSIS 3, Unicode, 64-bit), built by
; scripts/build-windows:
;   makensis -DVERSION=1.0.0.0 -DEXE=path\hpvisit.exe -DICON=hpvisit.ico -DOUTFILE=setup.exe hpvisit.nsi
;
; It installs for the current user (into the user's own program folder) or for
; all users (into Program Files), chosen on its first page or with /CurrentUser
; or /AllUsers; /S installs silently; /D=folder (last) picks the program folder.
; The Start-menu shortcut starts the program in a folder of the user's own
; Documents, where it keeps its settings (udat.txt):
;   - current user: Documents\hpvisit, made by the installer;
;   - all users: the Documents folder of whoever starts it (%USERPROFILE%\Documents),
;     since one shortcut serves every user and a folder of one user's cannot be named.
; "Start at logon" (a choice on the components page; /StartAtLogon when silent)
; adds a shortcut in the Startup folder, in the same working folder, that
; starts the program with --run: it visits at once and then every period.
; The last page offers to start the program.
; Installed for all users, the program is the event log's source "hpvisit"
; and its own message file (its events' texts are in its resources).
; A copy of the program that is running is closed before the files are
; replaced or removed, the way closing its window closes it, so that it saves
; its settings (if its minutes are invalid, which keeps the window open, as
; the end of the session closes it: the stored settings stay as they were).
; The uninstaller removes the program, its shortcuts, its uninstall entry and
; its event source, and leaves udat.txt wherever it is.
; This file is UTF-8 with a byte-order mark, as makensis reads Unicode scripts.

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma

!define NAME "ＴＡＶＩＫ支援　ＨＰ定期訪問"
; The caption of the program's window, by which a running copy is found.
!define CAPTION "TAVIK支援　ＨＰ定期訪問"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\hpvisit"
!define EVENT_SOURCE_KEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\hpvisit"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "hpvisit"
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallMode"
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include WinMessages.nsh

Name "${NAME}"
; The shortcuts' working folder, where the program keeps udat.txt.
Var WorkingFolder
OutFile "${OUTFILE}"
BrandingText "hpvisit ${VERSION}"

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1041 "ProductName" "${NAME}"
VIAddVersionKey /LANG=1041 "FileDescription" "${NAME} セットアップ"
VIAddVersionKey /LANG=1041 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "LegalCopyright" "hpvisit developers"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "${NAME} を起動する"
!define MUI_FINISHPAGE_RUN_FUNCTION StartFromTheShortcut

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

; Closes every running copy of the program: as closing its window does, or,
; where that is refused (invalid minutes keep the window open), as the end of
; the session does; then waits for its process to end, so that its files are
; free.
!macro CLOSE_RUNNING_COPIES PREFIX
Function ${PREFIX}CloseRunningCopies
  StrCpy $R2 0
  ${Do}
    FindWindow $R0 "" "${CAPTION}"
    ${IfThen} $R0 == 0 ${|} ${Break} ${|}
    System::Call 'user32::GetWindowThreadProcessId(p $R0, *i .R1)'
    System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i $R1) p .R3'
    ${If} $R2 < 1
      SendMessage $R0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
    ${Else}
      SendMessage $R0 ${WM_QUERYENDSESSION} 0 0 /TIMEOUT=5000
      SendMessage $R0 ${WM_ENDSESSION} 1 0 /TIMEOUT=5000
    ${EndIf}
    System::Call 'kernel32::WaitForSingleObject(p $R3, i 10000) i .R4'
    System::Call 'kernel32::CloseHandle(p $R3)'
    ; Still running (an error box over it): the end of the session next.
    ${If} $R4 != 0
      IntOp $R2 $R2 + 1
    ${EndIf}
    ${IfThen} $R2 > 3 ${|} ${Break} ${|}
  ${Loop}
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_COPIES ""
!insertmacro CLOSE_RUNNING_COPIES "un."

Section "${NAME}" SecProgram
  SectionIn RO
  Call CloseRunningCopies
  SetOutPath "$INSTDIR"
  File "/oname=hpvisit.exe" "${EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The shortcut's working folder, where the program reads and writes udat.txt.
  ${If} $MultiUser.InstallMode == "AllUsers"
    StrCpy $OUTDIR "%USERPROFILE%\Documents"
  ${Else}
    CreateDirectory "$DOCUMENTS\hpvisit"
    StrCpy $OUTDIR "$DOCUMENTS\hpvisit"
  ${EndIf}
  CreateShortCut "$SMPROGRAMS\${NAME}.lnk" "$INSTDIR\hpvisit.exe" "" "$INSTDIR\hpvisit.exe" 0
  StrCpy $WorkingFolder $OUTDIR
  SetOutPath "$INSTDIR"

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${NAME}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\hpvisit.exe"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "hpvisit developers"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallMode" "$MultiUser.InstallMode"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1

  ; The event log's source, for all users only (the key is the machine's):
  ; the program's events, with their texts from the program itself.
  ${If} $MultiUser.InstallMode == "AllUsers"
    WriteRegExpandStr HKLM "${EVENT_SOURCE_KEY}" "EventMessageFile" "$INSTDIR\hpvisit.exe"
    ; error, warning and information events
    WriteRegDWORD HKLM "${EVENT_SOURCE_KEY}" "TypesSupported" 7
  ${EndIf}
SectionEnd

; Off unless chosen: a program that visits pages on its own starts so only when asked.
Section /o "ログオン時に起動（--run）" SecStartAtLogon
  StrCpy $OUTDIR $WorkingFolder  ; the shortcut's working folder, as the Start menu's
  CreateShortCut "$SMSTARTUP\${NAME}.lnk" "$INSTDIR\hpvisit.exe" "--run" "$INSTDIR\hpvisit.exe" 0
  SetOutPath "$INSTDIR"
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "プログラム本体と、スタートメニューのショートカット"
  !insertmacro MUI_DESCRIPTION_TEXT ${SecStartAtLogon} "ログオンのたびに起動し、すぐに訪問を始めます（スタートアップのショートカット）"
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  ; A folder given with /D is kept: the install mode would replace it.
  StrCpy $0 $INSTDIR
  !insertmacro MULTIUSER_INIT
  ${If} $0 != ""
    StrCpy $INSTDIR $0
  ${EndIf}
  ; /StartAtLogon: the choice of the components page, for a silent install.
  ${GetParameters} $1
  ClearErrors
  ${GetOptions} $1 "/StartAtLogon" $2
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecStartAtLogon}
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

; Started as its Start-menu shortcut starts it, in the folder of its settings.
Function StartFromTheShortcut
  ExecShell "" "$SMPROGRAMS\${NAME}.lnk"
FunctionEnd

Section "Uninstall"
  Call un.CloseRunningCopies
  Delete "$SMPROGRAMS\${NAME}.lnk"
  Delete "$SMSTARTUP\${NAME}.lnk"
  Delete "$INSTDIR\hpvisit.exe"
  Delete "$INSTDIR\uninstall.exe"
  ; Not recursive: a udat.txt kept in the program folder stays, and the folder with it.
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  ; The event source, where it is this installation's.
  ReadRegStr $0 HKLM "${EVENT_SOURCE_KEY}" "EventMessageFile"
  ${If} $0 == "$INSTDIR\hpvisit.exe"
    DeleteRegKey HKLM "${EVENT_SOURCE_KEY}"
  ${EndIf}
SectionEnd
