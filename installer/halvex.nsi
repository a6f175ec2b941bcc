; Halvex's installer and uninstaller.
;
; Built by the Windows builds with makensis and these symbols (-D):
;   VERSION          the program's version, as in Add/Remove Programs
;   VERSION_WORDS    the same as the four numbers of a version resource
;   PROGRAM          the built Halvex.exe
;   README LICENSE   its texts
;   STAND_IN         the stand-in Halvex.dll (simulated boards)
;   STAND_IN_README  its text
;   ICON             the program's icon
;   BOARD_DIR        the board code, whose headers give the clock range
;   OUTFILE          the installer to write
;   AMD64            for the x86_64 twin the tests run under wine64; without
;                    it the shipped installer: ANSI x86, which also starts on
;                    Windows 95, 98 and ME, where a Unicode installer does not.

!ifdef AMD64
    Target amd64-unicode
    !define PROGRAMS_FOLDER "$PROGRAMFILES64"
!else
    Unicode false
    !define PROGRAMS_FOLDER "$PROGRAMFILES"
!endif
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh
!include Sections.nsh
!include MUI2.nsh

; The clock range, the clock offered and the most boards Halvex can list,
; as the board code defines them.
!searchparse /file "${BOARD_DIR}/pll.h" "#define HALVEX_MIN_CLOCK " MIN_CLOCK
!searchparse /file "${BOARD_DIR}/pll.h" "#define HALVEX_MAX_CLOCK " MAX_CLOCK
!searchparse /file "${BOARD_DIR}/pll.h" "constexpr unsigned DEFAULT_CLOCK_MHZ = " DEFAULT_CLOCK ";"
!searchparse /file "${BOARD_DIR}/vsa100.h" "constexpr unsigned DEVICES_PER_BUS = " DEVICES_PER_BUS ";"
!searchparse /file "${BOARD_DIR}/vsa100.h" "constexpr unsigned MAX_BUS_COUNT = " MAX_BUS_COUNT ";"
!define /math BOARD_LIMIT ${MAX_BUS_COUNT} * ${DEVICES_PER_BUS}
!include texts.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The installer's own memory of the start-up choice, read when installing again.
!define SETTINGS_KEY "Software\${PRODUCT}"
!define UNINSTALLER "Uninstall.exe"
; Exit code for a bad /CLOCK, /BOARD or unknown switch, as Halvex.exe's own
; for a bad command line: nothing was installed.
!define EXIT_BAD_SWITCH 4
; Exit code when Halvex is running and the user (or /S) did not close it:
; nothing was changed.
!define EXIT_HALVEX_RUNNING 3
; The class of Halvex's window, as its resources name it.
!define WINDOW_CLASS "Halvex"

Name "${PRODUCT}"
Caption "${PRODUCT} ${VERSION} Setup"
UninstallCaption "${PRODUCT} ${VERSION} Uninstall"
BrandingText "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "${PROGRAMS_FOLDER}\${PRODUCT}"
; Administrators get the elevation prompt and install for all users; anyone
; else installs for themselves.
RequestExecutionLevel highest
; A file that cannot be written is retried or ends the installation (exit
; code 2), never skipped: an install missing a file would report success.
AllowSkipFiles off
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION_WORDS}"
VIAddVersionKey ProductName "${PRODUCT}"
VIAddVersionKey ProductVersion "${VERSION}"
VIAddVersionKey FileVersion "${VERSION}"
VIAddVersionKey FileDescription "${PRODUCT} ${VERSION} Setup"
VIAddVersionKey CompanyName "${PUBLISHER}"
VIAddVersionKey LegalCopyright "Copyright (C) 2026 ${PUBLISHER}"

Var AllUsers          ; 1: all users' folders and HKLM; 0: the current user's and HKCU
Var PreviousFolder    ; where Add/Remove Programs says Halvex is installed, or ""
Var StartupOn         ; 1: a start-up shortcut is wanted
Var StartupClock      ; its clock in MHz
Var StartupBoard      ; its board number, or "" for every board
Var StartupArguments  ; the shortcut's arguments for Halvex.exe
Var FinishText
Var NumberText        ; CheckWholeNumber's text, then its number or ""
Var NumberLow
Var NumberHigh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_SMALLDESC
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_UNFINISHPAGE_NOAUTOCLOSE
!define MUI_FINISHPAGE_TEXT "$FinishText"

!insertmacro MUI_PAGE_LICENSE "${LICENSE}"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
Page custom StartupPageShow StartupPageLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_PAGE_CUSTOMFUNCTION_PRE FinishPagePre
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; What the installer puts in a folder, taken away again by the uninstaller
; and, when Halvex moves to another folder, from the folder it leaves. Files
; it did not install stay, and so does the folder while it holds any.
!macro RemoveSimulatedBoards FOLDER
    Delete "${FOLDER}\simulated-boards\Halvex.dll"
    Delete "${FOLDER}\simulated-boards\README.txt"
    RMDir "${FOLDER}\simulated-boards"
!macroend
!macro RemoveProgramFiles FOLDER
    Delete "${FOLDER}\Halvex.exe"
    Delete "${FOLDER}\README.txt"
    Delete "${FOLDER}\LICENSE.txt"
    !insertmacro RemoveSimulatedBoards "${FOLDER}"
    Delete "${FOLDER}\${UNINSTALLER}"
    RMDir "${FOLDER}"
!macroend

!include startup_page.nsh

; A running Halvex.exe can be neither replaced nor removed: the user closes
; it first, or nothing is changed. Silent, nothing is changed at once.
!macro CloseHalvexFirst
    ${Do}
        FindWindow $0 "${WINDOW_CLASS}"
        ${IfThen} $0 == 0 ${|} ${ExitDo} ${|}
        ${If} ${Cmd} `MessageBox MB_ICONEXCLAMATION|MB_RETRYCANCEL "${TEXT_HALVEX_RUNNING}" /SD IDCANCEL IDCANCEL`
            SetErrorLevel ${EXIT_HALVEX_RUNNING}
            Quit
        ${EndIf}
    ${Loop}
!macroend

Section "${TEXT_PROGRAM_SECTION}" SecProgram
    SectionIn RO
    SetOutPath "$INSTDIR"
    File "/oname=Halvex.exe" "${PROGRAM}"
    File "/oname=README.txt" "${README}"
    File "/oname=LICENSE.txt" "${LICENSE}"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"
    CreateShortcut "$SMPROGRAMS\${MENU_LINK}" "$INSTDIR\Halvex.exe" "" "$INSTDIR\Halvex.exe" 0 \
        SW_SHOWNORMAL "" "${TEXT_MENU_LINK_COMMENT}"
SectionEnd

; Never beside Halvex.exe, where the hardware-access package's library goes.
Section /o "${TEXT_SIMULATED_SECTION}" SecSimulated
    SetOutPath "$INSTDIR\simulated-boards"
    File "/oname=Halvex.dll" "${STAND_IN}"
    File "/oname=README.txt" "${STAND_IN_README}"
SectionEnd

Section "-Start-up and registration"
    ${IfNot} ${SectionIsSelected} ${SecSimulated}
        !insertmacro RemoveSimulatedBoards "$INSTDIR"
    ${EndIf}
    ${If} $PreviousFolder != ""
    ${AndIf} $PreviousFolder != $INSTDIR
        !insertmacro RemoveProgramFiles "$PreviousFolder"
    ${EndIf}

    ; Exactly one start-up entry: whatever there was goes, in either context
    ; (an earlier install for this user only included), then the one chosen.
    SetShellVarContext current
    Delete "$SMSTARTUP\${STARTUP_LINK}"
    ${If} $AllUsers == 1
        SetShellVarContext all
        Delete "$SMSTARTUP\${STARTUP_LINK}"
    ${EndIf}
    ${If} $StartupOn == 1
        SetOutPath "$INSTDIR"
        CreateShortcut "$SMSTARTUP\${STARTUP_LINK}" "$INSTDIR\Halvex.exe" "$StartupArguments" \
            "$INSTDIR\Halvex.exe" 0 SW_SHOWMINIMIZED "" "${TEXT_STARTUP_LINK_COMMENT}"
        DetailPrint "${TEXT_STARTUP_DETAIL}"
        WriteRegStr SHCTX "${SETTINGS_KEY}" "StartupClock" "$StartupClock"
        WriteRegStr SHCTX "${SETTINGS_KEY}" "StartupBoard" "$StartupBoard"
    ${Else}
        DeleteRegKey SHCTX "${SETTINGS_KEY}"
    ${EndIf}

    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Halvex.exe,0"
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
    SectionGetSize ${SecProgram} $0
    ${If} ${SectionIsSelected} ${SecSimulated}
        SectionGetSize ${SecSimulated} $1
        IntOp $0 $0 + $1
    ${EndIf}
    WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "${TEXT_PROGRAM_DESCRIPTION}"
    !insertmacro MUI_DESCRIPTION_TEXT ${SecSimulated} "${TEXT_SIMULATED_DESCRIPTION}"
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
    Call ReadSwitches
    !insertmacro CloseHalvexFirst
    UserInfo::GetAccountType
    Pop $0
    ${If} $0 == "Admin"
        StrCpy $AllUsers 1
        SetShellVarContext all
    ${Else}
        StrCpy $AllUsers 0
        SetShellVarContext current
    ${EndIf}

    ; Installing again goes to the same folder unless /D= says otherwise.
    ReadRegStr $PreviousFolder SHCTX "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $INSTDIR == "${PROGRAMS_FOLDER}\${PRODUCT}"
        ${If} $PreviousFolder != ""
            StrCpy $INSTDIR $PreviousFolder
        ${ElseIf} $AllUsers == 0
        ${AndIf} $LOCALAPPDATA != ""
            StrCpy $INSTDIR "$LOCALAPPDATA\Programs\${PRODUCT}"
        ${EndIf}
    ${EndIf}
    ${If} ${FileExists} "$INSTDIR\simulated-boards\Halvex.dll"
        !insertmacro SelectSection ${SecSimulated}
    ${EndIf}

    Call ReadCurrentChoice
    ${If} $SwitchClock != ""
        StrCpy $StartupOn 1
        StrCpy $StartupClock $SwitchClock
        StrCpy $StartupBoard $SwitchBoard
    ${EndIf}
    Call ComposeStartupArguments
FunctionEnd

Function FinishPagePre
    ${If} ${FileExists} "$INSTDIR\Halvex.dll"
        StrCpy $FinishText "${TEXT_FINISH_READY}"
    ${Else}
        StrCpy $FinishText "${TEXT_FINISH_NEEDS_DRIVER}"
        ${If} ${SectionIsSelected} ${SecSimulated}
            StrCpy $FinishText "$FinishText${TEXT_FINISH_SIMULATED}"
        ${EndIf}
    ${EndIf}
    ${If} $StartupOn == 1
        StrCpy $FinishText "$FinishText${TEXT_FINISH_STARTUP}"
    ${EndIf}
FunctionEnd

; The uninstaller works in the context its installer chose: all users when
; the all-users entry names this folder.
Function un.onInit
    !insertmacro CloseHalvexFirst
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 == $INSTDIR
        SetShellVarContext all
    ${Else}
        SetShellVarContext current
    ${EndIf}
FunctionEnd

Section "Uninstall"
    Delete "$SMSTARTUP\${STARTUP_LINK}"
    Delete "$SMPROGRAMS\${MENU_LINK}"
    !insertmacro RemoveProgramFiles "$INSTDIR"
    DeleteRegKey SHCTX "${UNINSTALL_KEY}"
    DeleteRegKey SHCTX "${SETTINGS_KEY}"
    ${If} ${FileExists} "$INSTDIR\*.*"
        DetailPrint "${TEXT_FOLDER_KEPT}"
    ${EndIf}
SectionEnd
