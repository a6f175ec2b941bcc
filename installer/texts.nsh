; Every text the installer and the uninstaller show or write, each once.

!define PRODUCT "Halvex"
!define PUBLISHER "[Ambrin]"
!define STARTUP_LINK "Halvex clock.lnk"
!define MENU_LINK "Halvex.lnk"

!define TEXT_MENU_LINK_COMMENT "Read and set the graphics clock of VSA-100 boards"
!define TEXT_STARTUP_LINK_COMMENT "Restores the graphics clock of the VSA-100 boards at logon"

!define TEXT_PROGRAM_SECTION "Halvex"
!define TEXT_PROGRAM_DESCRIPTION "The program, its README and licence, and a Start-menu shortcut."
!define TEXT_SIMULATED_SECTION "Simulated boards"
!define TEXT_SIMULATED_DESCRIPTION "For trying Halvex out: a stand-in Halvex.dll that simulates two boards, in a folder of its own. Not the hardware driver."

!define TEXT_STARTUP_TITLE "Apply at start-up"
!define TEXT_STARTUP_SUBTITLE "Have Halvex restore the graphics clock every time you log on."
!define TEXT_STARTUP_INTRO "A board forgets its clock when it is powered off. Halvex can write it again at every logon, from a shortcut in the Startup folder."
!define TEXT_STARTUP_CHECK "&Restore this clock at every logon"
!define TEXT_STARTUP_CLOCK "&Clock:"
!define TEXT_STARTUP_CLOCK_UNIT "MHz (a whole number from ${MIN_CLOCK} to ${MAX_CLOCK})"
!define TEXT_STARTUP_EVERY_BOARD "&Every board"
!define TEXT_STARTUP_ONE_BOARD "&Only board number:"
!define TEXT_STARTUP_BOARD_HINT "as Halvex lists them, from 1"
!define TEXT_STARTUP_SKIP "To skip it once, hold down the Shift key while Windows logs you on."

!define TEXT_BAD_CLOCK "The clock must be a whole number of MHz from ${MIN_CLOCK} to ${MAX_CLOCK}"
!define TEXT_BAD_BOARD "The board must be a whole number from 1 to ${BOARD_LIMIT}, the number Halvex lists it by"
!define TEXT_BAD_SWITCH "Unknown switch"
!define TEXT_SWITCH_TWICE "A switch given twice"
!define TEXT_BOARD_NEEDS_CLOCK "/BOARD needs /CLOCK"
!define TEXT_USAGE "Usage: Halvex-${VERSION}-setup.exe [/S] [/CLOCK=MHZ [/BOARD=N]] [/D=folder]$\r$\n$\r$\n/S$\tinstall with no questions$\r$\n/CLOCK=MHZ$\trestore MHZ (${MIN_CLOCK} to ${MAX_CLOCK}) at every logon$\r$\n/BOARD=N$\tonly on board N, numbered from 1 as Halvex lists them$\r$\n/D=folder$\tinstall there (last, no quotes)$\r$\n$\r$\nNothing was installed."

!define TEXT_FINISH_NEEDS_DRIVER "Halvex needs Halvex.dll, the driver library of the hardware-access package: put it beside Halvex.exe, in $INSTDIR."
!define TEXT_FINISH_SIMULATED "$\r$\n$\r$\nTo try it out without boards, copy simulated-boards\Halvex.dll there instead; remove it before using real boards."
!define TEXT_FINISH_READY "Halvex is installed in $INSTDIR, with the driver library Halvex.dll beside it."
!define TEXT_STARTUP_DETAIL "At every logon: Halvex.exe $StartupArguments"
!define TEXT_FINISH_STARTUP "$\r$\n$\r$\n${TEXT_STARTUP_DETAIL}"

!define TEXT_FOLDER_KEPT "$INSTDIR is kept: it holds files Halvex did not install."
!define TEXT_HALVEX_RUNNING "Halvex is running. Close it, then press Retry."
