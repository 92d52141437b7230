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
; The uninstaller removes the program, its shortcut and its uninstall entry,
; and leaves udat.txt wherever it is.
; This file is UTF-8 with a byte-order mark, as makensis reads Unicode scripts.

Unicode true
Target amd64-unicode
ManifestDPIAware true
SetCompressor /SOLID lzma

!define NAME "ＴＡＶＩＫ支援　ＨＰ定期訪問"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\hpvisit"

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

Name "${NAME}"
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

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

Function .onInit
  ; A folder given with /D is kept: the install mode would replace it.
  StrCpy $0 $INSTDIR
  !insertmacro MULTIUSER_INIT
  ${If} $0 != ""
    StrCpy $INSTDIR $0
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "hpvisit"
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
SectionEnd

Section "Uninstall"
  Delete "$SMPROGRAMS\${NAME}.lnk"
  Delete "$INSTDIR\hpvisit.exe"
  Delete "$INSTDIR\uninstall.exe"
  ; Not recursive: a udat.txt kept in the program folder stays, and the folder with it.
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
