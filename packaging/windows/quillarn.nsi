; The installer of Quillarn for Windows: quillarn.exe (the window) and ugi2sgf.exe, per user (no
; administrator needed) or for all users, a Start menu entry, the file type of .ugi records opened
; with Quillarn by a double-click in Explorer, ugi2sgf on the user's PATH when asked for, and an
; uninstaller that takes away exactly what was added (never a record). Built on Linux with Debian's
; makensis, by the build's target "installer":
;   makensis -DVERSION=0.1 -DBIN=DIR -DOUT=FILE packaging/windows/quillarn.nsi
; DIR holds quillarn.exe, ugi2sgf.exe, README.md, README.ja.md, LICENSE and docs/ (what the READMEs
; link to). Silently: /S, with
; /CurrentUser (the default) or /AllUsers, and /PATH to put ugi2sgf on the PATH.

Unicode true
; 64-bit programs; the installer itself too, since a 64-bit system (and wine's 64-bit prefix) may run
; no other.
Target amd64-unicode
SetCompressor /SOLID lzma

!define APP "Quillarn"
!define PROGID "Quillarn.UGI"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillarn"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR "Quillarn"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!include MultiUser.nsh
!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh
!include Sections.nsh

Name "${APP} ${VERSION}"
OutFile "${OUT}"
BrandingText "${APP} ${VERSION}"

!define MUI_ICON "${SOURCE}\window\windows\quillarn.ico"
!define MUI_UNICON "${SOURCE}\window\windows\quillarn.ico"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${BIN}\LICENSE"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_RUN "$INSTDIR\quillarn.exe"
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"
!insertmacro MUI_LANGUAGE "English"

LangString ProgramsSection ${LANG_JAPANESE} "Quillarn と ugi2sgf"
LangString ProgramsSection ${LANG_ENGLISH} "Quillarn and ugi2sgf"
LangString PathSection ${LANG_JAPANESE} "ugi2sgf をコマンドプロンプトから使えるようにする (PATH)"
LangString PathSection ${LANG_ENGLISH} "Let the command prompt find ugi2sgf (PATH)"
LangString FileType ${LANG_JAPANESE} "UGI 棋譜"
LangString FileType ${LANG_ENGLISH} "UGI game record"
LangString OpenWith ${LANG_JAPANESE} "Quillarn で開く"
LangString OpenWith ${LANG_ENGLISH} "Open with Quillarn"

Section "!$(ProgramsSection)" programs
  SectionIn RO
  SetOutPath "$INSTDIR"
  File "${BIN}\quillarn.exe"
  File "${BIN}\ugi2sgf.exe"
  File "${BIN}\README.md"
  File "${BIN}\README.ja.md"
  File "${BIN}\LICENSE"
  SetOutPath "$INSTDIR\docs" ; what the READMEs link to
  File "${BIN}\docs\*.*"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortCut "$SMPROGRAMS\Quillarn.lnk" "$INSTDIR\quillarn.exe"

  ; .ugi records open in Quillarn: a ProgID of its own, with its icon, named the default of .ugi
  ; only where no other program had taken it.
  WriteRegStr SHCTX "Software\Classes\${PROGID}" "" "$(FileType)"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\quillarn.exe,0"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\shell\open" "" "$(OpenWith)"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\quillarn.exe" "%1"'
  WriteRegStr SHCTX "Software\Classes\.ugi\OpenWithProgids" "${PROGID}" ""
  ReadRegStr $0 SHCTX "Software\Classes\.ugi" ""
  ${If} $0 == ""
    WriteRegStr SHCTX "Software\Classes\.ugi" "" "${PROGID}"
  ${EndIf}
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${APP}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "The Quillarn developers"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quillarn.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section /o "$(PathSection)" path
  ; The user's own PATH, with the folder added once; the uninstaller takes away just that.
  ReadRegStr $0 HKCU "Environment" "Path"
  ${If} $0 == ""
    StrCpy $0 "$INSTDIR"
  ${Else}
    StrCpy $0 "$0;$INSTDIR"
  ${EndIf}
  WriteRegExpandStr HKCU "Environment" "Path" "$0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "AddedToPath" "$INSTDIR"
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
SectionEnd

Function .onInit
  !insertmacro MULTIUSER_INIT
  ; /PATH chooses the PATH too, for a silent install.
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/PATH" $R1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${path}
  ${EndIf}
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

; Removes from the string in $0 every occurrence of ";" + $1 (or $1 + ";", or $1 alone); the result in $0.
Function un.RemoveFromPath
  Exch $1
  Exch
  Exch $0
  Push $2
  Push $3
  Push $4
  StrCpy $2 "" ; what is kept
  loop:
    StrCmp $0 "" done
    ; The next entry: up to the next ";".
    StrCpy $3 0
    find:
      StrCpy $4 $0 1 $3
      StrCmp $4 "" found
      StrCmp $4 ";" found
      IntOp $3 $3 + 1
      Goto find
    found:
    StrCpy $4 $0 $3
    IntOp $3 $3 + 1
    StrCpy $0 $0 "" $3
    StrCmp $4 $1 loop
    StrCmp $2 "" 0 +3
    StrCpy $2 $4
    Goto loop
    StrCpy $2 "$2;$4"
    Goto loop
  done:
  StrCpy $0 $2
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Exch $0
FunctionEnd

Section "Uninstall"
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $0 != ""
    ReadRegStr $1 HKCU "Environment" "Path"
    Push $1
    Push $0
    Call un.RemoveFromPath
    Pop $1
    ${If} $1 == ""
      DeleteRegValue HKCU "Environment" "Path"
    ${Else}
      WriteRegExpandStr HKCU "Environment" "Path" "$1"
    ${EndIf}
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=2000
  ${EndIf}

  ReadRegStr $0 SHCTX "Software\Classes\.ugi" ""
  ${If} $0 == "${PROGID}"
    DeleteRegValue SHCTX "Software\Classes\.ugi" ""
  ${EndIf}
  DeleteRegValue SHCTX "Software\Classes\.ugi\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.ugi\OpenWithProgids"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.ugi"
  DeleteRegKey SHCTX "Software\Classes\${PROGID}"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'

  Delete "$SMPROGRAMS\Quillarn.lnk"
  Delete "$INSTDIR\quillarn.exe"
  Delete "$INSTDIR\ugi2sgf.exe"
  Delete "$INSTDIR\README.md"
  Delete "$INSTDIR\README.ja.md"
  Delete "$INSTDIR\LICENSE"
  Delete "$INSTDIR\docs\ugi-format.md"
  Delete "$INSTDIR\docs\windows.md"
  Delete "$INSTDIR\docs\screenshot.png"
  Delete "$INSTDIR\docs\screenshot-menu.png"
  Delete "$INSTDIR\docs\screenshot-web.png"
  Delete "$INSTDIR\docs\screenshot-windows.png"
  Delete "$INSTDIR\docs\screenshot-windows-menu.png"
  RMDir "$INSTDIR\docs"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: whatever the user put there stays.
  RMDir "$INSTDIR"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
