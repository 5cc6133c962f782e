; Corvane's Windows installer. Per user by default (no administrator rights,
; the user's local programs folder, registered for the current user); with
; /ALLUSERS, elevated, under Program Files and registered machine-wide, so the
; property handlers and the schema are registered too. Built by the CMake
; target "installer", which defines VERSION, BINDIR, DOCFILE, ICONFILE and OUTFILE.
Unicode true
Target amd64-unicode
ManifestSupportedOS all
RequestExecutionLevel user
SetCompressor /SOLID lzma
AllowSkipFiles off  ; a file in use fails the install rather than leaving mixed versions

!include LogicLib.nsh
!include FileFunc.nsh
!include MUI2.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Corvane"
!define SETTINGS_KEY "Software\Mirelith\Corvane"
!define RUNONCE_KEY "Software\Microsoft\Windows\CurrentVersion\RunOnce"
!define SHORTCUT "Corvane Settings.lnk"
!define USER_FOLDER "$LOCALAPPDATA\Programs\Corvane"  ; a per-user install's, in the user's own shell context
!define ELEVATION_REQUIRED 740  ; ERROR_ELEVATION_REQUIRED

Name "Corvane ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "${USER_FOLDER}"
!define MUI_ICON "${ICONFILE}"
!define MUI_UNICON "${ICONFILE}"
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

!macro UseMode un
Function ${un}useMode  ; $0: 1 for all users
  StrCpy $AllUsers $0
  SetRegView 64
  ${If} $AllUsers == 1
    StrCpy $RegisterRoot "machine"
    SetShellVarContext all
  ${Else}
    StrCpy $RegisterRoot "user"
    SetShellVarContext current
  ${EndIf}
FunctionEnd

Function ${un}requireAdministrator
  UserInfo::GetAccountType
  Pop $1
  ${If} $1 != "Admin"
    MessageBox MB_ICONSTOP "Corvane is installed for all users: this needs administrator rights." /SD IDOK
    SetErrorLevel ${ELEVATION_REQUIRED}
    Quit
  ${EndIf}
FunctionEnd
!macroend
!insertmacro UseMode ""
!insertmacro UseMode "un."

Function .onInit
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/ALLUSERS" $R1
  ${If} ${Errors}
    StrCpy $0 0
  ${Else}
    StrCpy $0 1
  ${EndIf}
  Call useMode
  ${If} $AllUsers == 1
    Call requireAdministrator
    StrCpy $INSTDIR "$PROGRAMFILES64\Corvane"
  ${Else}
    ; A user's own registration would hide the machine's, and its settings
    ; program would then act on an install it does not belong to.
    SetRegView 64
    ReadRegStr $R2 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $R2 != ""
      MessageBox MB_ICONSTOP "Corvane is already installed for all users in $R2." /SD IDOK
      SetErrorLevel 1
      Quit
    ${EndIf}
  ${EndIf}
  ; An earlier install of this mode is upgraded where it is.
  ReadRegStr $R2 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R2 != ""
    StrCpy $INSTDIR $R2
  ${EndIf}
FunctionEnd

; For all users the server must lie where only administrators can write:
; Explorer loads it, and the libraries beside it, in every user's session.
Function .onVerifyInstDir
  ${If} $AllUsers == 1
    StrLen $R3 "$PROGRAMFILES64\"
    StrCpy $R4 $INSTDIR $R3
    ${If} $R4 != "$PROGRAMFILES64\"
      Abort
    ${EndIf}
  ${EndIf}
FunctionEnd

; A server Explorer still has loaded cannot be replaced or deleted, but it can
; be renamed: it goes out of the way and is deleted once no longer loaded.
; $0 names the folder on entry and holds the name the server got on return,
; or "" when it could simply be deleted; $1 is left alone.
!macro MoveServerAside un
Function ${un}moveServerAside
  StrCpy $2 $0
  StrCpy $0 ""
  Delete "$2\Corvane.dll.old-*"
  IfFileExists "$2\Corvane.dll" 0 done
  Delete "$2\Corvane.dll"
  IfFileExists "$2\Corvane.dll" 0 done
  System::Call "kernel32::GetTickCount() i .r3"
  StrCpy $0 "$2\Corvane.dll.old-$3"
  Rename "$2\Corvane.dll" "$0"
  done:
FunctionEnd
!macroend
!insertmacro MoveServerAside ""
!insertmacro MoveServerAside "un."

; A user may not schedule a deletion at restart, and a deletion at restart in
; a folder the user can write could be led elsewhere by then: the renamed
; server ($0) and its folder ($1) go at the user's next sign-in instead, with
; the user's own rights.
Function un.deleteAtUsersSignIn
  WriteRegStr HKCU "${RUNONCE_KEY}" "CorvaneCleanup" '"$SYSDIR\cmd.exe" /c del /f /q "$0" & rmdir "$1"'
FunctionEnd

; The current user's own install goes when Corvane is installed for all
; users. Its files lie where the user can write, and its entry in HKCU may
; name any folder, so nothing of it is run or loaded here: the trusted server
; just installed ($INSTDIR) removes the user's registration. An entry naming
; another folder stays, so that the user can still remove what lies there.
Function removeUsersOwnInstall
  ExecWait '"$SYSDIR\regsvr32.exe" /u /s /n /i:user "$INSTDIR\Corvane.dll"'
  SetShellVarContext current
  ${If} ${FileExists} "$SMPROGRAMS\${SHORTCUT}"
    WriteRegStr HKCU "${RUNONCE_KEY}" "CorvaneShortcutCleanup" '"$SYSDIR\cmd.exe" /d /c del /f /q "$SMPROGRAMS\${SHORTCUT}"'
  ${EndIf}
  ReadRegStr $R2 HKCU "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R2 == ""
  ${OrIf} $R2 == "${USER_FOLDER}"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
  ${EndIf}
  ${If} ${FileExists} "${USER_FOLDER}\*.*"
    Call deleteUsersFilesAtSignIn
  ${EndIf}
  SetShellVarContext all
FunctionEnd

; An elevated deletion by name in a folder the user can write could be led
; by a junction, swapped in at any moment, into a folder the user may not
; write; so the files a per-user install writes, and only those, are deleted
; at the user's next sign-in, with the user's own rights. (So is the user's
; shortcut, above.) A command too long for RunOnce names the folder through
; the variable instead, which misses only a moved local application folder.
!define USERS_FILES "del /f /q doc\index.html Corvane.propdesc CorvaneSettings.exe Uninstall.exe Corvane.dll* & rmdir doc & cd .. & rmdir Corvane & popd)"
!define MAX_RUNONCE_COMMAND 259
Function deleteUsersFilesAtSignIn
  StrCpy $R3 '"$SYSDIR\cmd.exe" /d /c pushd "${USER_FOLDER}" && (${USERS_FILES}'
  StrLen $R4 $R3
  ${If} $R4 > ${MAX_RUNONCE_COMMAND}
    StrCpy $R3 '"$SYSDIR\cmd.exe" /d /c pushd "%LOCALAPPDATA%\Programs\Corvane" && (${USERS_FILES}'
  ${EndIf}
  WriteRegStr HKCU "${RUNONCE_KEY}" "CorvaneUserInstallCleanup" $R3
FunctionEnd

Section "Corvane"
  SetOutPath "$INSTDIR"
  IfFileExists "$INSTDIR\Corvane.dll" 0 +2
    ExecWait '"$SYSDIR\regsvr32.exe" /u /s /n /i:$RegisterRoot "$INSTDIR\Corvane.dll"'
  StrCpy $0 $INSTDIR
  Call moveServerAside
  ${If} $0 != ""
  ${AndIf} $AllUsers == 1
    Delete /REBOOTOK "$0"
  ${EndIf}
  File "${BINDIR}/Corvane.dll"
  File "${BINDIR}/Corvane.propdesc"
  File "${BINDIR}/CorvaneSettings.exe"
  SetOutPath "$INSTDIR\doc"
  File "${DOCFILE}"
  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\Uninstall.exe"

  ClearErrors
  ExecWait '"$SYSDIR\regsvr32.exe" /s /n /i:$RegisterRoot "$INSTDIR\Corvane.dll"' $0
  ${If} ${Errors}
  ${OrIf} $0 != 0
    ExecWait '"$SYSDIR\regsvr32.exe" /u /s /n /i:$RegisterRoot "$INSTDIR\Corvane.dll"'
    MessageBox MB_ICONSTOP "Corvane could not be registered with Windows." /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  ${If} $AllUsers == 1
    Call removeUsersOwnInstall
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

; The mode is the install's own, whatever switch the uninstaller was given:
; an install is the machine's when the machine's entry names its folder.
Function un.onInit
  SetRegView 64
  ReadRegStr $R2 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  StrCpy $0 0
  ${If} $R2 == $INSTDIR
    StrCpy $0 1
  ${EndIf}
  Call un.useMode
  ${If} $AllUsers == 1
    Call un.requireAdministrator
  ${EndIf}
FunctionEnd

; The settings stay unless /REMOVESETTINGS is given: a later install finds them.
Section "Uninstall"
  ExecWait '"$SYSDIR\regsvr32.exe" /u /s /n /i:$RegisterRoot "$INSTDIR\Corvane.dll"'
  Delete "$INSTDIR\Corvane.propdesc"
  Delete "$INSTDIR\CorvaneSettings.exe"
  Delete "$INSTDIR\doc\index.html"
  RMDir "$INSTDIR\doc"
  StrCpy $0 $INSTDIR
  Call un.moveServerAside
  ${If} $0 != ""
    ; Still loaded by Explorer: for all users it is deleted at the next restart.
    ${If} $AllUsers == 1
      Delete /REBOOTOK "$0"
    ${Else}
      StrCpy $1 $INSTDIR
      Call un.deleteAtUsersSignIn
    ${EndIf}
  ${EndIf}
  Delete "$SMPROGRAMS\${SHORTCUT}"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  ${GetParameters} $R0
  ClearErrors
  ${GetOptions} $R0 "/REMOVESETTINGS" $R1
  ${IfNot} ${Errors}
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Mirelith"
    ${If} $AllUsers == 1
      DeleteRegKey HKLM "${SETTINGS_KEY}"
      DeleteRegKey /ifempty HKLM "Software\Mirelith"
    ${EndIf}
  ${EndIf}
  Delete "$INSTDIR\Uninstall.exe"
  ${If} $AllUsers == 1
    RMDir /REBOOTOK "$INSTDIR"
  ${Else}
    RMDir "$INSTDIR"
  ${EndIf}
SectionEnd
