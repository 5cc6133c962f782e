; Corvane's Windows installer. Per user by default (no administrator rights,
; the user's local programs folder, registered for the current user); with
; /ALLUSERS, elevated, under Program Files and registered machine-wide, so the
; property handlers and the schema are registered too. Built by the CMake
; target "installer", which defines VERSION, BINDIR, DOCFILE and OUTFILE.
Unicode true
Target amd64-unicode
ManifestSupportedOS all
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include FileFunc.nsh
!include MUI2.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvane"
!define SETTINGS_KEY "Software\Mirelith\Corvane"
!define SHORTCUT "Corvane Settings.lnk"

Name "Corvane ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Corvane"
Icon "${ICONFILE}"
UninstallIcon "${ICONFILE}"
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "Corvane"
VIAddVersionKey "CompanyName" "Mirelith"
VIAddVersionKey "FileDescription" "Corvane installer"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright 2026 Mirelith"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

Var AllUsers        ; 1 for the all-users mode
Var RegisterRoot    ; "user" or "machine", as DllInstall names them

!macro ChooseMode un
Function ${un}chooseMode
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/ALLUSERS" $R1
  ${If} ${Errors}
    StrCpy $AllUsers 0
    StrCpy $RegisterRoot "user"
    SetShellVarContext current
  ${Else}
    StrCpy $AllUsers 1
    StrCpy $RegisterRoot "machine"
    SetShellVarContext all
  ${EndIf}
  SetRegView 64
FunctionEnd
!macroend
!insertmacro ChooseMode ""
!insertmacro ChooseMode "un."

Function .onInit
  Call chooseMode
  ${If} $AllUsers == 1
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 != "Admin"
      MessageBox MB_ICONSTOP "Installing Corvane for all users needs administrator rights." /SD IDOK
      SetErrorLevel 740 ; ERROR_ELEVATION_REQUIRED
      Quit
    ${EndIf}
    StrCpy $INSTDIR "$PROGRAMFILES64\Corvane"
  ${EndIf}
FunctionEnd

; A server Explorer still has loaded cannot be replaced or deleted, but it can
; be renamed: it goes out of the way, and is deleted when no longer loaded.
!macro MoveServerAside un
Function ${un}moveServerAside
  Delete "$INSTDIR\Corvane.dll.old-*"
  IfFileExists "$INSTDIR\Corvane.dll" 0 done
  Delete "$INSTDIR\Corvane.dll"
  IfFileExists "$INSTDIR\Corvane.dll" 0 done
  System::Call "kernel32::GetTickCount() i .r0"
  Rename "$INSTDIR\Corvane.dll" "$INSTDIR\Corvane.dll.old-$0"
  done:
FunctionEnd
!macroend
!insertmacro MoveServerAside ""

Section "Corvane"
  SetOutPath "$INSTDIR"
  ; An older install of this mode is replaced in place: its registration first goes.
  IfFileExists "$INSTDIR\Corvane.dll" 0 +2
    ExecWait '"$SYSDIR\regsvr32.exe" /u /s /n /i:$RegisterRoot "$INSTDIR\Corvane.dll"'
  Call moveServerAside
  File "${BINDIR}/Corvane.dll"
  File "${BINDIR}/Corvane.propdesc"
  File "${BINDIR}/CorvaneSettings.exe"
  SetOutPath "$INSTDIR\doc"
  File "${DOCFILE}"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ExecWait '"$SYSDIR\regsvr32.exe" /s /n /i:$RegisterRoot "$INSTDIR\Corvane.dll"' $0
  ${If} $0 != 0
    DetailPrint "Registering Corvane failed ($0)."
    SetErrorLevel 2
  ${EndIf}

  CreateShortcut "$SMPROGRAMS\${SHORTCUT}" "$INSTDIR\CorvaneSettings.exe" "" "$INSTDIR\CorvaneSettings.exe" 0

  StrCpy $1 ""
  ${If} $AllUsers == 1
    StrCpy $1 " /ALLUSERS"
  ${EndIf}
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "Corvane"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "Mirelith"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\CorvaneSettings.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"$1'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S$1'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $2 $3 $4
  IntFmt $2 "0x%08X" $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" "$2"
SectionEnd

Function un.onInit
  Call un.chooseMode
FunctionEnd

; The settings stay unless /REMOVESETTINGS is given: a later install finds them.
Section "Uninstall"
  ExecWait '"$SYSDIR\regsvr32.exe" /u /s /n /i:$RegisterRoot "$INSTDIR\Corvane.dll"'
  Delete "$INSTDIR\Corvane.propdesc"
  Delete "$INSTDIR\CorvaneSettings.exe"
  Delete "$INSTDIR\doc\index.html"
  RMDir "$INSTDIR\doc"
  Delete "$INSTDIR\Corvane.dll.old-*"
  Delete "$INSTDIR\Corvane.dll"
  IfFileExists "$INSTDIR\Corvane.dll" 0 removed
    ; Still loaded by Explorer. For all users it is deleted at the next
    ; restart (the settings window tells of that); a user may not schedule
    ; that, so the file moves to the user's temporary folder instead.
    ${If} $AllUsers == 1
      Delete /REBOOTOK "$INSTDIR\Corvane.dll"
    ${Else}
      System::Call "kernel32::GetTickCount() i .r0"
      Rename "$INSTDIR\Corvane.dll" "$TEMP\Corvane-removed-$0.dll"
    ${EndIf}
  removed:
  Delete "$SMPROGRAMS\${SHORTCUT}"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVESETTINGS" $R1
  ${IfNot} ${Errors}
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    ${If} $AllUsers == 1
      DeleteRegKey HKLM "${SETTINGS_KEY}"
    ${EndIf}
  ${EndIf}
  Delete "$INSTDIR\Uninstall.exe"
  RMDir "$INSTDIR"
SectionEnd
