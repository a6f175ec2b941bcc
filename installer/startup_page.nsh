; The start-up choice: the page that asks for it, the switches that give it
; to a silent install, and what an earlier install left of it.

Var SwitchClock       ; /CLOCK= as a number, or "" when not given
Var SwitchBoard       ; /BOARD= as a number, or ""
Var StartupCheck      ; the page's controls
Var ClockField
Var EveryBoardRadio
Var OneBoardRadio
Var BoardField

; $NumberText in plain decimal when it is a whole number from $NumberLow to
; $NumberHigh, else "". Leading zeros go first: NSIS reads a number that
; starts with 0 as octal. Whatever else is not plain digits does not survive
; the round trip through IntOp (a sign, a space, a suffix, "0x", nothing).
Function CheckWholeNumber
    ${DoWhile} $NumberText != "0"
        StrCpy $0 $NumberText 1
        ${IfThen} $0 != "0" ${|} ${ExitDo} ${|}
        StrCpy $NumberText $NumberText "" 1
    ${Loop}
    StrLen $0 $NumberText
    ${If} $0 > 6
        StrCpy $NumberText ""
        Return
    ${EndIf}
    IntOp $0 $NumberText + 0
    ${If} "$0" != "$NumberText"
    ${OrIf} $0 < $NumberLow
    ${OrIf} $0 > $NumberHigh
        StrCpy $NumberText ""
    ${EndIf}
FunctionEnd

Function CheckClock
    StrCpy $NumberLow ${MIN_CLOCK}
    StrCpy $NumberHigh ${MAX_CLOCK}
    Call CheckWholeNumber
FunctionEnd

Function CheckBoard
    StrCpy $NumberLow 1
    StrCpy $NumberHigh ${BOARD_LIMIT}
    Call CheckWholeNumber
FunctionEnd

; Ends the installer before anything is touched, with the reason in $R9
; (shown unless silent).
Function RefuseSwitches
    MessageBox MB_ICONSTOP|MB_OK "$R9$\r$\n$\r$\n${TEXT_USAGE}" /SD IDOK
    SetErrorLevel ${EXIT_BAD_SWITCH}
    Quit
FunctionEnd

; Splits the first word off $R0 at spaces: the word in $R1 ("" at the end),
; the rest left in $R0.
Function SplitWord
    ${Do}
        StrCpy $R6 $R0 1
        ${IfThen} $R6 != " " ${|} ${ExitDo} ${|}
        StrCpy $R0 $R0 "" 1
    ${Loop}
    StrCpy $R7 0
    ${Do}
        StrCpy $R6 $R0 1 $R7
        ${IfThen} $R6 == "" ${|} ${ExitDo} ${|}
        ${IfThen} $R6 == " " ${|} ${ExitDo} ${|}
        IntOp $R7 $R7 + 1
    ${Loop}
    StrCpy $R1 ""
    ${IfThen} $R7 > 0 ${|} StrCpy $R1 $R0 $R7 ${|}
    StrCpy $R0 $R0 "" $R7
FunctionEnd

; /CLOCK=MHZ and /BOARD=N, each at most once, /BOARD only with /CLOCK; NSIS's
; own /S and /NCRC pass (it takes /D= off the command line itself). Anything
; else is refused, so that a mistyped switch never installs something the
; user did not ask for.
Function ReadSwitches
    StrCpy $SwitchClock ""
    StrCpy $SwitchBoard ""
    StrCpy $R2 0  ; /CLOCK seen
    StrCpy $R3 0  ; /BOARD seen
    ${GetParameters} $R0
    ${Do}
        Call SplitWord
        ${IfThen} $R1 == "" ${|} ${ExitDo} ${|}
        StrCpy $R4 $R1 7
        StrCpy $NumberText $R1 "" 7
        ${If} $R1 == "/S"
        ${OrIf} $R1 == "/NCRC"
            ${Continue}
        ${ElseIf} $R4 == "/CLOCK="
            StrCpy $R9 "${TEXT_SWITCH_TWICE}: $R1"
            ${IfThen} $R2 == 1 ${|} Call RefuseSwitches ${|}
            StrCpy $R2 1
            Call CheckClock
            StrCpy $R9 "${TEXT_BAD_CLOCK}: $R1"
            ${IfThen} $NumberText == "" ${|} Call RefuseSwitches ${|}
            StrCpy $SwitchClock $NumberText
        ${ElseIf} $R4 == "/BOARD="
            StrCpy $R9 "${TEXT_SWITCH_TWICE}: $R1"
            ${IfThen} $R3 == 1 ${|} Call RefuseSwitches ${|}
            StrCpy $R3 1
            Call CheckBoard
            StrCpy $R9 "${TEXT_BAD_BOARD}: $R1"
            ${IfThen} $NumberText == "" ${|} Call RefuseSwitches ${|}
            StrCpy $SwitchBoard $NumberText
        ${Else}
            StrCpy $R9 "${TEXT_BAD_SWITCH}: $R1"
            Call RefuseSwitches
        ${EndIf}
    ${Loop}
    ${If} $R3 == 1
    ${AndIf} $R2 == 0
        StrCpy $R9 "${TEXT_BOARD_NEEDS_CLOCK}"
        Call RefuseSwitches
    ${EndIf}
FunctionEnd

; The choice an earlier install made, while its shortcut is still there (a
; user who deleted it chose to have none); else none, with the default clock
; offered.
Function ReadCurrentChoice
    StrCpy $StartupOn 0
    StrCpy $StartupClock ${DEFAULT_CLOCK}
    StrCpy $StartupBoard ""
    ${IfNot} ${FileExists} "$SMSTARTUP\${STARTUP_LINK}"
        Return
    ${EndIf}
    ReadRegStr $NumberText SHCTX "${SETTINGS_KEY}" "StartupClock"
    Call CheckClock
    ${IfThen} $NumberText == "" ${|} Return ${|}
    StrCpy $1 $NumberText
    ReadRegStr $NumberText SHCTX "${SETTINGS_KEY}" "StartupBoard"
    ${If} $NumberText != ""
        Call CheckBoard
        ${IfThen} $NumberText == "" ${|} Return ${|}
    ${EndIf}
    StrCpy $StartupOn 1
    StrCpy $StartupClock $1
    StrCpy $StartupBoard $NumberText
FunctionEnd

Function ComposeStartupArguments
    StrCpy $StartupArguments "/clock:$StartupClock"
    ${If} $StartupBoard != ""
        StrCpy $StartupArguments "$StartupArguments /board:$StartupBoard"
    ${EndIf}
    StrCpy $StartupArguments "$StartupArguments /quiet"
FunctionEnd

; The clock and board controls follow the check box and the radio buttons.
Function StartupPageSync
    Pop $0  ; the control clicked
    ${NSD_GetState} $StartupCheck $0
    ${NSD_GetState} $OneBoardRadio $1
    EnableWindow $ClockField $0
    EnableWindow $EveryBoardRadio $0
    EnableWindow $OneBoardRadio $0
    ${IfThen} $0 != ${BST_CHECKED} ${|} StrCpy $1 0 ${|}
    EnableWindow $BoardField $1
FunctionEnd

Function StartupPageShow
    !insertmacro MUI_HEADER_TEXT "${TEXT_STARTUP_TITLE}" "${TEXT_STARTUP_SUBTITLE}"
    nsDialogs::Create 1018
    Pop $0
    ${IfThen} $0 == error ${|} Abort ${|}

    ${NSD_CreateLabel} 0 0 100% 20u "${TEXT_STARTUP_INTRO}"
    Pop $0
    ${NSD_CreateCheckbox} 0 28u 100% 12u "${TEXT_STARTUP_CHECK}"
    Pop $StartupCheck
    ${NSD_CreateLabel} 14u 48u 84u 10u "${TEXT_STARTUP_CLOCK}"
    Pop $0
    ${NSD_CreateNumber} 100u 46u 28u 12u "$StartupClock"
    Pop $ClockField
    ${NSD_Edit_SetTextLimit} $ClockField 3
    ${NSD_CreateLabel} 134u 48u 160u 10u "${TEXT_STARTUP_CLOCK_UNIT}"
    Pop $0
    ${NSD_CreateRadioButton} 14u 64u 200u 12u "${TEXT_STARTUP_EVERY_BOARD}"
    Pop $EveryBoardRadio
    ${NSD_AddStyle} $EveryBoardRadio ${WS_GROUP}
    ${NSD_CreateRadioButton} 14u 78u 84u 12u "${TEXT_STARTUP_ONE_BOARD}"
    Pop $OneBoardRadio
    ${NSD_CreateNumber} 100u 78u 28u 12u "$StartupBoard"
    Pop $BoardField
    ${NSD_Edit_SetTextLimit} $BoardField 4
    ${NSD_CreateLabel} 134u 80u 160u 10u "${TEXT_STARTUP_BOARD_HINT}"
    Pop $0
    ${NSD_CreateLabel} 0 104u 100% 20u "${TEXT_STARTUP_SKIP}"
    Pop $0

    ${If} $StartupOn == 1
        ${NSD_Check} $StartupCheck
    ${EndIf}
    ${If} $StartupBoard == ""
        ${NSD_Check} $EveryBoardRadio
    ${Else}
        ${NSD_Check} $OneBoardRadio
    ${EndIf}
    ${NSD_OnClick} $StartupCheck StartupPageSync
    ${NSD_OnClick} $EveryBoardRadio StartupPageSync
    ${NSD_OnClick} $OneBoardRadio StartupPageSync
    Push $StartupCheck
    Call StartupPageSync
    nsDialogs::Show
FunctionEnd

; A value out of range keeps the user on the page, with the reason.
Function StartupPageLeave
    ${NSD_GetState} $StartupCheck $0
    StrCpy $StartupOn 0
    ${If} $0 == ${BST_CHECKED}
        ${NSD_GetText} $ClockField $NumberText
        StrCpy $1 $NumberText
        Call CheckClock
        ${If} $NumberText == ""
            MessageBox MB_ICONEXCLAMATION|MB_OK "${TEXT_BAD_CLOCK}: $\"$1$\""
            ${NSD_SetFocus} $ClockField
            Abort
        ${EndIf}
        StrCpy $2 $NumberText
        StrCpy $3 ""
        ${NSD_GetState} $OneBoardRadio $0
        ${If} $0 == ${BST_CHECKED}
            ${NSD_GetText} $BoardField $NumberText
            StrCpy $1 $NumberText
            Call CheckBoard
            ${If} $NumberText == ""
                MessageBox MB_ICONEXCLAMATION|MB_OK "${TEXT_BAD_BOARD}: $\"$1$\""
                ${NSD_SetFocus} $BoardField
                Abort
            ${EndIf}
            StrCpy $3 $NumberText
        ${EndIf}
        StrCpy $StartupOn 1
        StrCpy $StartupClock $2
        StrCpy $StartupBoard $3
    ${EndIf}
    Call ComposeStartupArguments
FunctionEnd
