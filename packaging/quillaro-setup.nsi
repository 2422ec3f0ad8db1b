; quillaro-setup.nsi - the Windows installer of Quillaro (NSIS 3, 64-bit):
; Quillaro.exe, quillaro-cli.exe and their texts in a folder, a Start menu
; entry, an entry in the installed programs, "Open with" for .swf files and,
; when asked, quillaro-cli's folder in the PATH; and the uninstaller that
; takes away exactly these.
;
; Built by tools/release (and tests/installer_test.sh):
;   makensis -DVERSION=1.8.0 -DFILES=<folder> -DOUTDIR=<folder> quillaro-setup.nsi
; VERSION is the project version (build/<config>/generated/common/version.h);
; FILES holds Quillaro.exe, quillaro-cli.exe, README.txt and LICENCES.txt;
; the installer is written to OUTDIR/Quillaro-<VERSION>-win64-setup.exe.
; Give FILES and OUTDIR as absolute paths (makensis works in packaging/).
;
; For the current user, without administrator rights, by default (in the
; user's own programs folder); for all users when run elevated and asked to
; (/AllUsers, or the choice it then offers). /S installs silently, /D=FOLDER
; (last, unquoted) chooses the folder, /AddToPath ticks the PATH box.
; Installing again, or a newer version, upgrades the earlier installation in
; place; the uninstaller takes /S too.

!ifndef VERSION | FILES | OUTDIR
  !error "define VERSION, FILES and OUTDIR (see the head of this file)"
!endif
!searchparse /noerrors "${VERSION}" "" VERSION_MAJOR "." VERSION_MINOR "." VERSION_PATCH
!ifndef VERSION_PATCH
  !error "VERSION must be major.minor.patch, not ${VERSION}"
!endif

Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user
ManifestDPIAware true

!define PUBLISHER "Quillaro maintainers"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillaro"
!define CLASSES "Software\Classes"
!define PROGID "Quillaro.swf"
!define USER_ENVIRONMENT "Environment"
!define MACHINE_ENVIRONMENT "SYSTEM\CurrentControlSet\Control\Session Manager\Environment"

Name "Quillaro ${VERSION}"
OutFile "${OUTDIR}/Quillaro-${VERSION}-win64-setup.exe"
BrandingText "${PUBLISHER}"

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WinMessages.nsh
!include nsDialogs.nsh

; makensis works in the folder of this script: relative paths start here.
!define MUI_ICON "../res/quillaro.ico"
!define MUI_UNICON "../res/quillaro.ico"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC

Var Privileges     ; "Admin" when running elevated
Var AllUsers       ; 1 when installing for all users
Var DirGiven       ; 1 when /D= chose the folder
Var PathKey        ; the registry key (under SHCTX) of the PATH this mode changes
Var ModeAll        ; the radio buttons of the mode page
Var ModeCurrent

Page custom ModePage ModePageLeave
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE English

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey ProductName "Quillaro"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey FileDescription "Quillaro ${VERSION} Setup"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey LegalCopyright "Copyright (C) ${PUBLISHER}; MIT licence"

; The PATH functions, for the installer and (with prefix un.) the uninstaller.
; They edit the PATH value of $PathKey under SHCTX, and leave it alone when
; it is no string or longer than NSIS's strings (NSIS_MAX_STRLEN): writing
; back what ReadRegStr gives then would cut the user's PATH short or empty it.
!macro PATH_FUNCTIONS prefix
  ; Out: $R0 the PATH ("" when there is none), $R1 "ok", "absent" or "unreadable".
  Function ${prefix}ReadPath
    ClearErrors
    ReadRegStr $R0 SHCTX $PathKey "Path"
    StrCpy $R1 "ok"
    ${If} ${Errors}
      StrCpy $R0 ""
      StrCpy $R1 "absent"
      StrCpy $R2 0
      ${Do}  ; ReadRegStr fails alike for an absent and an overlong value
        EnumRegValue $R3 SHCTX $PathKey $R2
        ${IfThen} $R3 == "Path" ${|} StrCpy $R1 "unreadable" ${|}
        IntOp $R2 $R2 + 1
      ${LoopUntil} $R3 == ""
    ${EndIf}
  FunctionEnd

  ; In: $R0 a PATH. Out: $R2 the PATH without the entries that are $INSTDIR
  ; (compared as Windows does, ignoring case), every other entry and
  ; separator kept as it was; $R3 1 when there was such an entry, else 0.
  Function ${prefix}PathWithoutFolder
    StrCpy $R2 ""
    StrCpy $R3 0
    StrCpy $R4 $R0   ; what is left to read
    StrCpy $R8 1     ; 1 until an entry is kept
    ${Do}
      StrCpy $R5 0
      ${Do}
        StrCpy $R6 $R4 1 $R5
        ${IfThen} $R6 == "" ${|} ${ExitDo} ${|}
        ${IfThen} $R6 == ";" ${|} ${ExitDo} ${|}
        IntOp $R5 $R5 + 1
      ${Loop}
      StrCpy $R7 $R4 $R5
      ${If} $R7 == $INSTDIR
      ${OrIf} $R7 == "$INSTDIR\"
        StrCpy $R3 1
      ${ElseIf} $R8 == 1
        StrCpy $R2 $R7
        StrCpy $R8 0
      ${Else}
        StrCpy $R2 "$R2;$R7"
      ${EndIf}
      IntOp $R5 $R5 + 1
      StrCpy $R4 $R4 "" $R5
    ${LoopUntil} $R6 == ""
  FunctionEnd

  ; Takes $INSTDIR out of the PATH; deletes the value if nothing else is left.
  Function ${prefix}RemoveFolderFromPath
    Call ${prefix}ReadPath
    ${If} $R1 == "unreadable"
      MessageBox MB_ICONEXCLAMATION "Your PATH is too long to be changed here. Please remove $INSTDIR from it yourself." /SD IDOK
      Return
    ${EndIf}
    Call ${prefix}PathWithoutFolder
    ${If} $R3 == 1
      ${If} $R2 == ""
        DeleteRegValue SHCTX $PathKey "Path"
      ${Else}
        WriteRegExpandStr SHCTX $PathKey "Path" $R2
      ${EndIf}
      SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=1000
    ${EndIf}
  FunctionEnd
!macroend
!insertmacro PATH_FUNCTIONS ""
!insertmacro PATH_FUNCTIONS "un."

; Adds $INSTDIR to the end of the PATH unless it is there. Out: $R9 1 when
; the folder was added by this call, 0 when it was there already, "" when
; the PATH could not be changed.
Function AddFolderToPath
  StrCpy $R9 ""
  Call ReadPath
  ${If} $R1 == "unreadable"
    Goto refuse
  ${EndIf}
  Call PathWithoutFolder
  ${If} $R3 == 1
    StrCpy $R9 0
    Return
  ${EndIf}
  StrLen $R4 $R0
  StrLen $R5 $INSTDIR
  IntOp $R4 $R4 + $R5
  IntOp $R4 $R4 + 2  ; the separator and the terminating zero
  ${If} $R4 > ${NSIS_MAX_STRLEN}  ; the joined string would be cut short
    Goto refuse
  ${EndIf}
  StrCpy $R6 $R0 "" -1
  ${If} $R0 == ""
  ${OrIf} $R6 == ";"
    StrCpy $R0 "$R0$INSTDIR"
  ${Else}
    StrCpy $R0 "$R0;$INSTDIR"
  ${EndIf}
  WriteRegExpandStr SHCTX $PathKey "Path" $R0
  SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=1000
  StrCpy $R9 1
  Return
refuse:
  DetailPrint "The PATH was left as it was: it is too long to be changed here."
  MessageBox MB_ICONEXCLAMATION "Your PATH is too long to be changed here; it was left as it was. Please add $INSTDIR to it yourself." /SD IDOK
FunctionEnd

; Runs the uninstaller of an installation in another folder than this one,
; so that an upgrade into a new folder leaves no second copy behind.
Function RemoveEarlierElsewhere
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 == ""
  ${OrIf} $0 == $INSTDIR
  ${OrIfNot} ${FileExists} "$0\uninstall.exe"
    Return
  ${EndIf}
  DetailPrint "Removing the earlier installation in $0"
  ExecWait '"$0\uninstall.exe" /S _?=$0'
  Delete "$0\uninstall.exe"
  RMDir "$0"
FunctionEnd

Function WriteOpenWith
  ; Offered under "Open with" for .swf; the default program of .swf, and
  ; anything of .exe (projectors are programs), stay as they are.
  WriteRegStr SHCTX "${CLASSES}\${PROGID}" "" "Flash movie"
  WriteRegStr SHCTX "${CLASSES}\${PROGID}\DefaultIcon" "" "$INSTDIR\Quillaro.exe,0"
  WriteRegStr SHCTX "${CLASSES}\${PROGID}\shell\open\command" "" '"$INSTDIR\Quillaro.exe" "%1"'
  WriteRegNone SHCTX "${CLASSES}\.swf\OpenWithProgids" "${PROGID}"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'  ; SHCNE_ASSOCCHANGED
FunctionEnd

Function WriteUninstallEntry
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "Quillaro"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "VersionMajor" ${VERSION_MAJOR}
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "VersionMinor" ${VERSION_MINOR}
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Quillaro.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K /G=0" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
FunctionEnd

Section "Quillaro and quillaro-cli" SecProgram
  SectionIn RO
  Call RemoveEarlierElsewhere
  SetOutPath $INSTDIR
  File "${FILES}/Quillaro.exe"
  File "${FILES}/quillaro-cli.exe"
  File "${FILES}/README.txt"
  File "${FILES}/LICENCES.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Quillaro.lnk" "$INSTDIR\Quillaro.exe" "" "$INSTDIR\Quillaro.exe" 0
  Call WriteOpenWith
  Call WriteUninstallEntry
SectionEnd

Section /o "Add the folder of quillaro-cli to the PATH" SecPath
SectionEnd

; The PATH follows the box on every install: an upgrade that leaves it
; unticked takes out what an earlier install added (the box starts ticked
; when it did, so /S keeps the earlier choice).
Section "-PATH"
  ReadRegDWORD $0 SHCTX "${UNINSTALL_KEY}" "AddedToPath"
  ${If} ${SectionIsSelected} ${SecPath}
    Call AddFolderToPath
    ${IfThen} $R9 == 1 ${|} StrCpy $0 1 ${|}
    ${IfThen} $R9 == "" ${|} StrCpy $0 0 ${|}
  ${ElseIf} $0 == 1
    Call RemoveFolderFromPath
    StrCpy $0 0
  ${EndIf}
  ${IfThen} $0 != 1 ${|} StrCpy $0 0 ${|}
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "AddedToPath" $0
SectionEnd

; Sets the install mode: SHCTX, $SMPROGRAMS, the PATH key and, unless /D=
; gave it, the folder (an earlier installation's, or the default).
Function SetInstallMode
  ${If} $AllUsers == 1
    SetShellVarContext all
    StrCpy $PathKey "${MACHINE_ENVIRONMENT}"
    StrCpy $1 "$PROGRAMFILES64"
  ${Else}
    SetShellVarContext current
    StrCpy $PathKey "${USER_ENVIRONMENT}"
    GetKnownFolderPath $1 {5CD7AEE2-2219-4A67-B85D-6C9CE15660CB}  ; FOLDERID_UserProgramFiles
    ${IfThen} $1 == "" ${|} StrCpy $1 "$LOCALAPPDATA\Programs" ${|}
  ${EndIf}
  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $DirGiven != 1
    StrCpy $INSTDIR "$1\Quillaro"
    ${IfThen} $0 != "" ${|} StrCpy $INSTDIR $0 ${|}
  ${EndIf}
  ReadRegDWORD $0 SHCTX "${UNINSTALL_KEY}" "AddedToPath"
  ${If} $0 == 1
    !insertmacro SelectSection ${SecPath}
  ${Else}
    !insertmacro UnselectSection ${SecPath}
  ${EndIf}
FunctionEnd

Function .onInit
  ${IfThen} $INSTDIR != "" ${|} StrCpy $DirGiven 1 ${|}
  UserInfo::GetAccountType
  Pop $Privileges
  ${GetParameters} $2
  StrCpy $AllUsers 0
  ClearErrors
  ${GetOptions} $2 "/AllUsers" $3
  ${IfNot} ${Errors}
    ${If} $Privileges != "Admin"
      MessageBox MB_ICONSTOP "Installing for all users needs administrator rights: run the installer as administrator." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
    StrCpy $AllUsers 1
  ${EndIf}
  Call SetInstallMode
  ClearErrors
  ${GetOptions} $2 "/AddToPath" $3
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecPath}
  ${EndIf}
FunctionEnd

; Only an elevated installer asks for whom to install.
Function ModePage
  ${IfThen} $Privileges != "Admin" ${|} Abort ${|}
  !insertmacro MUI_HEADER_TEXT "Choose users" "Install Quillaro for you alone or for every user of this computer."
  nsDialogs::Create 1018
  Pop $0
  ${NSD_CreateRadioButton} 0 20u 100% 12u "For me only (in my own programs folder)"
  Pop $ModeCurrent
  ${NSD_CreateRadioButton} 0 40u 100% 12u "For all users of this computer (in Program Files)"
  Pop $ModeAll
  ${If} $AllUsers == 1
    ${NSD_Check} $ModeAll
  ${Else}
    ${NSD_Check} $ModeCurrent
  ${EndIf}
  nsDialogs::Show
FunctionEnd

Function ModePageLeave
  ${NSD_GetState} $ModeAll $0
  StrCpy $AllUsers 0
  ${IfThen} $0 == ${BST_CHECKED} ${|} StrCpy $AllUsers 1 ${|}
  Call SetInstallMode
FunctionEnd

; The uninstaller removes its own installation: that of all users when the
; machine's entry names this folder, else the current user's. The registry
; entries, the Start menu entry and the PATH are touched only while the
; entry names this folder, so that an uninstaller left in another folder
; never takes away those of the installation that replaced it.
Function un.onInit
  UserInfo::GetAccountType
  Pop $Privileges
  ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} $0 == $INSTDIR
    ${If} $Privileges != "Admin"
      MessageBox MB_ICONSTOP "Quillaro was installed for all users: run its uninstaller as administrator." /SD IDOK
      SetErrorLevel 2
      Quit
    ${EndIf}
    SetShellVarContext all
    StrCpy $PathKey "${MACHINE_ENVIRONMENT}"
  ${Else}
    SetShellVarContext current
    StrCpy $PathKey "${USER_ENVIRONMENT}"
  ${EndIf}
FunctionEnd

Section "Uninstall"
  Delete "$INSTDIR\Quillaro.exe"
  Delete "$INSTDIR\quillaro-cli.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENCES.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"  ; only when empty: files of the user's stay

  ReadRegStr $0 SHCTX "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $0 != $INSTDIR
    Return
  ${EndIf}
  Delete "$SMPROGRAMS\Quillaro.lnk"
  ReadRegDWORD $0 SHCTX "${UNINSTALL_KEY}" "AddedToPath"
  ${IfThen} $0 == 1 ${|} Call un.RemoveFolderFromPath ${|}
  DeleteRegKey SHCTX "${CLASSES}\${PROGID}"
  DeleteRegValue SHCTX "${CLASSES}\.swf\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty SHCTX "${CLASSES}\.swf\OpenWithProgids"
  DeleteRegKey /ifempty SHCTX "${CLASSES}\.swf"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'  ; SHCNE_ASSOCCHANGED
SectionEnd
