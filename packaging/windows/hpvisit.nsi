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
; The last page offers to start the program, with the rights of the user
; who is logged on.
; Installed for all users, the program is the event log's source "hpvisit"
; and its own message file (its events' texts are in its resources).
; Every running copy of the installed program, in every session, is closed
; before the files are replaced or removed, the way the end of the session
; closes it, so that it saves its settings (with invalid minutes, the rest of
; them and the period last saved); a silent install starts the copies it
; closed again afterwards, as they were started, and so does an install that
; cannot finish (a copy that does not close, a file that cannot be written),
; which then ends with exit code 2. See CloseRunningCopies.
; The uninstaller removes the program, its shortcuts, its uninstall entry and
; its event source, and leaves udat.txt wherever it is.
; This file is UTF-8 with a byte-order mark, as makensis reads Unicode scripts.

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma

!define NAME "ＴＡＶＩＫ支援　ＨＰ定期訪問"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\hpvisit"
!define EVENT_SOURCE_KEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\hpvisit"
; How long the running copies may take to close, all together, before the
; user is asked (a silent install ends): a copy closes within a second or two.
; (The tests build an installer that waits less: -DCLOSE_WAIT_MS.)
!ifndef CLOSE_WAIT_MS
  !define CLOSE_WAIT_MS 60000
!endif
!define ENDSESSION_CLOSEAPP 1
!define SMTO_ABORTIFHUNG 2
!define ERROR_MORE_DATA 234
!define WAIT_TIMEOUT 258

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
!include Util.nsh

Name "${NAME}"
; The shortcuts' working folder, where the program keeps udat.txt.
Var WorkingFolder
; The Restart Manager session ("" where none started), and whether its
; RmShutdown closed copies; the copies closed without it, to be started again
; after a silent install or a failed one ($PLUGINSDIR\copies.ini).
Var RmSession
Var RmClosed
Var CopiesClosed
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
!define MUI_FINISHPAGE_RUN_TEXT "${NAME} を起動する(&R)"
!define MUI_FINISHPAGE_RUN_FUNCTION StartFromTheShortcut

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

; Closing the running copies of the installed program, before its files are
; replaced or removed, first through Restart Manager, which closes every copy
; using $INSTDIR\hpvisit.exe in every session as the end of the session does,
; and starts them again (RmRestart) as they registered themselves. Any copy
; still running then (Restart Manager closed none, as under Wine, whose
; Restart Manager does nothing, or it failed) is closed here, all at once:
; each process whose image is $INSTDIR\hpvisit.exe is asked as the end of the
; session asks it, through the event it waits on (which reaches it in any
; session), or, for a copy of an earlier version, with the messages to its
; windows in this session, and the processes are waited for. Nothing else is
; touched. The installer keeps what it needs to start each of them again: its
; folder, its command line and its user. Copies that have not all closed
; within CLOSE_WAIT_MS are the user's to close, or, silent, end the install
; unchanged.
!macro CLOSE_RUNNING_COPIES UN
; Asks every running copy to close: one seen for the first time at once (and
; the installer keeps what starting it again takes), then again every 5th
; pass ($9 counts them: a copy that has just started may not listen yet).
; $0: how many still run. Uses $1-$7, $R5-$R8.
Function ${UN}AskRunningCopiesToClose
  StrCpy $0 0
  System::Call 'kernel32::GetLongPathNameW(w R9, w .R8, i ${NSIS_MAX_STRLEN}) i .r2'
  ${IfThen} $2 = 0 ${|} StrCpy $R8 $R9 ${|}
  System::Alloc 32768
  Pop $R7
  System::Call 'kernel32::K32EnumProcesses(p R7, i 32768, *i .R6) i .r2'
  ${IfThen} $2 = 0 ${|} StrCpy $R6 0 ${|}
  IntOp $R6 $R6 / 4
  StrCpy $R5 0
  ${DoWhile} $R5 < $R6
    IntOp $2 $R5 * 4
    IntPtrOp $2 $R7 + $2
    System::Call '*$2(i .r1)'
    ; SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION
    System::Call 'kernel32::OpenProcess(i 0x00101000, i 0, i r1) p .r3'
    ${If} $3 != 0
      StrCpy $4 ${NSIS_MAX_STRLEN}
      System::Call 'kernel32::QueryFullProcessImageNameW(p r3, i 0, w .r5, *i r4) i .r6'
      System::Call 'kernel32::WaitForSingleObject(p r3, i 0) i .r7'
      System::Call 'kernel32::CloseHandle(p r3)'
      ${If} $6 != 0
      ${AndIf} $7 = ${WAIT_TIMEOUT}
      ${AndIf} $5 == $R8
        IntOp $0 $0 + 1
        ReadINIStr $2 "$PLUGINSDIR\asked.ini" "asked" "$1"
        IntOp $3 $9 % 5
        ${If} $2 == ""
        ${OrIf} $3 = 0
          Push $R5
          Push $R6
          Push $R7
          ${If} $2 == ""
            WriteINIStr "$PLUGINSDIR\asked.ini" "asked" "$1" 1
            !if "${UN}" == ""
              Call RememberCopy
            !endif
          ${EndIf}
          Call ${UN}AskCopyToClose
          Pop $R7
          Pop $R6
          Pop $R5
        ${EndIf}
      ${EndIf}
    ${EndIf}
    IntOp $R5 $R5 + 1
  ${Loop}
  System::Free $R7
FunctionEnd

; Asks the copy whose process id is $1 to close, as the end of the session does. Uses $2-$4.
Function ${UN}AskCopyToClose
  System::Call 'kernel32::OpenEventW(i 0x0002, i 0, w "Global\hpvisit-end-session-$1") p .r2'
  ${If} $2 = 0
    System::Call 'kernel32::OpenEventW(i 0x0002, i 0, w "Local\hpvisit-end-session-$1") p .r2'
  ${EndIf}
  ${If} $2 != 0
    System::Call 'kernel32::SetEvent(p r2)'
    System::Call 'kernel32::CloseHandle(p r2)'
    Return
  ${EndIf}
  StrCpy $3 0
  ${Do}
    System::Call 'user32::FindWindowExW(p 0, p r3, p 0, p 0) p .r3'
    ${IfThen} $3 = 0 ${|} ${Break} ${|}
    System::Call 'user32::GetWindowThreadProcessId(p r3, *i .r4)'
    ${If} $4 = $1
      System::Call 'user32::SendMessageTimeoutW(p r3, i ${WM_QUERYENDSESSION}, p 0, p ${ENDSESSION_CLOSEAPP}, i ${SMTO_ABORTIFHUNG}, i 5000, *p 0)'
      System::Call 'user32::SendMessageTimeoutW(p r3, i ${WM_ENDSESSION}, p 1, p ${ENDSESSION_CLOSEAPP}, i ${SMTO_ABORTIFHUNG}, i 5000, *p 0)'
    ${EndIf}
  ${Loop}
FunctionEnd

Function ${UN}CloseRunningCopies
  InitPluginsDir
  StrCpy $R9 "$INSTDIR\hpvisit.exe"
  StrCpy $RmSession ""
  StrCpy $RmClosed 0
  StrCpy $CopiesClosed 0
  System::Call 'rstrtmgr::RmStartSession(*i .r0, i 0, w .r1) i .r2'
  ${If} $2 == 0
    StrCpy $RmSession $0
    System::Call '*(w R9) p .r3'  ; an array of one file name
    System::Call 'rstrtmgr::RmRegisterResources(i $RmSession, i 1, p r3, i 0, p 0, i 0, p 0) i .r2'
    System::Free $3
    System::Call 'rstrtmgr::RmGetList(i $RmSession, *i .r4, *i 0, p 0, *i 0) i .r2'
    ${If} $2 = ${ERROR_MORE_DATA}
    ${AndIf} $4 > 0
      System::Call 'rstrtmgr::RmShutdown(i $RmSession, i 0, p 0) i .r2'
      StrCpy $RmClosed 1
    ${EndIf}
  ${EndIf}

  System::Call 'kernel32::GetTickCount() i .r8'
  StrCpy $9 0
  ${Do}
    Call ${UN}AskRunningCopiesToClose
    ${IfThen} $0 = 0 ${|} ${Break} ${|}
    Sleep 1000
    IntOp $9 $9 + 1
    System::Call 'kernel32::GetTickCount() i .r3'
    IntOp $3 $3 - $8
    ${If} $3 > ${CLOSE_WAIT_MS}
      ${If} ${Cmd} `MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "「${NAME}」が終了しません。$\r$\n$\r$\nウィンドウを閉じてから［再試行］を押してください。［キャンセル］を押すと中止します。" /SD IDCANCEL IDCANCEL`
        Abort
      ${EndIf}
      System::Call 'kernel32::GetTickCount() i .r8'
    ${EndIf}
  ${Loop}
FunctionEnd

Function ${UN}EndRestartManagerSession
  ${If} $RmSession != ""
    System::Call 'rstrtmgr::RmEndSession(i $RmSession)'
    StrCpy $RmSession ""
  ${EndIf}
FunctionEnd
!macroend
!insertmacro CLOSE_RUNNING_COPIES ""
!insertmacro CLOSE_RUNNING_COPIES "un."

; The text of a UNICODE_STRING at address ADDRESS in the process PROCESS (a
; handle with PROCESS_VM_READ), into OUT ("" where it cannot be read). Uses $R3-$R6.
!macro READ_PROCESS_TEXT PROCESS ADDRESS OUT
  StrCpy ${OUT} ""
  System::Alloc 16
  Pop $R3
  System::Call 'kernel32::ReadProcessMemory(p ${PROCESS}, p ${ADDRESS}, p R3, i 16, p 0) i .R4'
  System::Call '*$R3(&i2 .R5)'
  IntPtrOp $R6 $R3 + 8
  System::Call '*$R6(p .R6)'
  System::Free $R3
  ${If} $R4 != 0
  ${AndIf} $R5 > 0
  ${AndIf} $R5 < 2046
    System::Alloc 2048
    Pop $R3
    System::Call 'kernel32::ReadProcessMemory(p ${PROCESS}, p R6, p R3, i R5, p 0) i .R4'
    ${If} $R4 != 0
      System::Call '*$R3(&w${NSIS_MAX_STRLEN} .s)'
      Pop ${OUT}
    ${EndIf}
    System::Free $R3
  ${EndIf}
!macroend

; Keeps what starting the copy whose process id is $1 again takes: its
; working folder and command line (from its process parameters), its user
; (a copy of its token), and its process, to know whether it closed. Uses
; $2-$7, $R0-$R6.
Function RememberCopy
  ; PROCESS_QUERY_INFORMATION | PROCESS_VM_READ
  System::Call 'kernel32::OpenProcess(i 0x0410, i 0, i r1) p .r2'
  ${IfThen} $2 = 0 ${|} Return ${|}
  System::Alloc 48
  Pop $3
  ; PROCESS_BASIC_INFORMATION: the address of its PEB at 8; there, its parameters at 0x20.
  System::Call 'ntdll::NtQueryInformationProcess(p r2, i 0, p r3, i 48, p 0) i .r4'
  IntPtrOp $5 $3 + 8
  System::Call '*$5(p .r5)'
  IntPtrOp $5 $5 + 0x20
  System::Call 'kernel32::ReadProcessMemory(p r2, p r5, p r3, i 8, p 0) i .r4'
  System::Call '*$3(p .r6)'
  System::Free $3
  ; RTL_USER_PROCESS_PARAMETERS: CurrentDirectory.DosPath at 0x38, CommandLine at 0x70.
  IntPtrOp $5 $6 + 0x38
  !insertmacro READ_PROCESS_TEXT $2 $5 $R0
  IntPtrOp $5 $6 + 0x70
  !insertmacro READ_PROCESS_TEXT $2 $5 $R1
  StrCpy $R2 0
  ; TOKEN_ASSIGN_PRIMARY | TOKEN_DUPLICATE | TOKEN_QUERY; a primary token, MAXIMUM_ALLOWED.
  System::Call 'advapi32::OpenProcessToken(p r2, i 0x000B, *p .r4) i .r7'
  ${If} $7 != 0
    System::Call 'advapi32::DuplicateTokenEx(p r4, i 0x02000000, p 0, i 2, i 1, *p .R2) i .r7'
    ${IfThen} $7 = 0 ${|} StrCpy $R2 0 ${|}
    System::Call 'kernel32::CloseHandle(p r4)'
  ${EndIf}
  System::Call 'kernel32::CloseHandle(p r2)'
  ${If} $R1 != ""
    System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r3'  ; SYNCHRONIZE
    IntOp $CopiesClosed $CopiesClosed + 1
    WriteINIStr "$PLUGINSDIR\copies.ini" "$CopiesClosed" "folder" $R0
    WriteINIStr "$PLUGINSDIR\copies.ini" "$CopiesClosed" "command" $R1
    WriteINIStr "$PLUGINSDIR\copies.ini" "$CopiesClosed" "user" $R2
    WriteINIStr "$PLUGINSDIR\copies.ini" "$CopiesClosed" "process" $3
  ${EndIf}
FunctionEnd

; After a silent install, or one that could not finish, the copies closed for
; it are started again as they were started: Restart Manager's own, with the
; command line each registered (their settings folder, and --run where they
; were started with it); the others in their working folder, with their
; command line, as their user. Each is started once, and only once it has
; closed: one that did not is left as it is.
Function StartClosedCopiesAgain
  ${If} $RmClosed = 1
    System::Call 'rstrtmgr::RmRestart(i $RmSession, i 0, p 0) i .r0'
    StrCpy $RmClosed 0
  ${EndIf}
  ${For} $1 1 $CopiesClosed
    ReadINIStr $2 "$PLUGINSDIR\copies.ini" "$1" "folder"
    ReadINIStr $3 "$PLUGINSDIR\copies.ini" "$1" "command"
    ReadINIStr $4 "$PLUGINSDIR\copies.ini" "$1" "user"
    ReadINIStr $5 "$PLUGINSDIR\copies.ini" "$1" "process"
    System::Call 'kernel32::WaitForSingleObject(p r5, i 0) i .r6'
    System::Call 'kernel32::CloseHandle(p r5)'
    ${If} $6 != 0
      System::Call 'kernel32::CloseHandle(p r4)'  ; its user's token (or 0)
      ${Continue}
    ${EndIf}
    System::Alloc 104  ; STARTUPINFOW
    Pop $5
    System::Call '*$5(i 104)'
    System::Alloc 24  ; PROCESS_INFORMATION
    Pop $6
    StrCpy $7 0
    ${If} $4 != 0
      System::Call 'advapi32::CreateProcessWithTokenW(p r4, i 0, p 0, w r3, i 0, p 0, w r2, p r5, p r6) i .r7'
      System::Call 'kernel32::CloseHandle(p r4)'
    ${EndIf}
    ; An installer that is not elevated runs as that user already.
    ${If} $7 = 0
    ${AndIf} $MultiUser.Privileges != "Admin"
      System::Call 'kernel32::CreateProcessW(p 0, w r3, p 0, p 0, i 0, i 0, p 0, w r2, p r5, p r6) i .r7'
    ${EndIf}
    ${If} $7 != 0
      System::Call '*$6(p .r8, p .r9)'
      System::Call 'kernel32::CloseHandle(p r8)'
      System::Call 'kernel32::CloseHandle(p r9)'
    ${EndIf}
    System::Free $5
    System::Free $6
  ${Next}
  StrCpy $CopiesClosed 0
FunctionEnd

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
Section /o "サインイン時に起動" SecStartAtLogon
  StrCpy $OUTDIR $WorkingFolder  ; the shortcut's working folder, as the Start menu's
  CreateShortCut "$SMSTARTUP\${NAME}.lnk" "$INSTDIR\hpvisit.exe" "--run" "$INSTDIR\hpvisit.exe" 0
  SetOutPath "$INSTDIR"
SectionEnd

; Last: the copies closed for a silent install start again, from the new files.
Section "-StartAgain"
  ${If} ${Silent}
    Call StartClosedCopiesAgain
  ${EndIf}
  Call EndRestartManagerSession
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "プログラム本体と、スタート メニューのショートカットをインストールします。"
  !insertmacro MUI_DESCRIPTION_TEXT ${SecStartAtLogon} "サインインするたびにプログラムを起動し、［実行］を押さなくてもすぐに訪問を始めます。"
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  InitPluginsDir
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

; An install that cannot finish (a copy did not close, a file could not be
; written) puts back what it stopped, and a silent one says in its exit code
; that it did not install.
Function .onInstFailed
  Call StartClosedCopiesAgain
  Call EndRestartManagerSession
  SetErrorLevel 2
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

; Started as its Start-menu shortcut starts it, in the folder of its settings,
; by the shell of the user who is logged on (explorer.exe hands the shortcut
; to it), so with that user's rights, not the installer's, which may be an
; administrator's.
Function StartFromTheShortcut
  Exec '"$WINDIR\explorer.exe" "$SMPROGRAMS\${NAME}.lnk"'
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
  Call un.EndRestartManagerSession
SectionEnd
