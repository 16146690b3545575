; The Windows installer: vantel.exe, vantel.srv and vantel-cli.exe for every user of the
; machine, a Start-menu shortcut, an optional start at log-on and an uninstaller.
; Built by `make package-windows`, which passes:
;   VERSION  the project version (x.y.z)    BINDIR  the Windows build directory
;   SRCDIR   the source tree                OUTFILE the installer to write
;
; Administrators may run it with /S (silent), /D=DIR (install folder, last on the line) and
; /NOAUTOSTART; the uninstaller takes /S and /REMOVESETTINGS.

; The programs are 64-bit only, and so is their installer (no 32-bit Windows layer needed).
Target amd64-unicode
SetCompressor /SOLID lzma

!ifdef VERSION & BINDIR & SRCDIR & OUTFILE
!else
    !error "VERSION, BINDIR, SRCDIR and OUTFILE must be defined (make package-windows)"
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include StrFunc.nsh
!include WinMessages.nsh

!define PRODUCT "Vantel"
!define PUBLISHER "Raderador"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vantel"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define SETTINGS_KEY "Software\Raderador\Vantel"
!define SERVICE "VantelSrv"
; The hidden main window of a running vantel.exe: a dialog captioned with the program name.
!define MAIN_WINDOW_CLASS "#32770"
!define MAIN_WINDOW_TITLE "Vantel"

${StrStr}
${UnStrStr}

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "Copyright (c) 2026 The Vantel developers"

!define MUI_ICON "${SRCDIR}\src\tray\icons\enabled.ico"
!define MUI_UNICON "${SRCDIR}\src\tray\icons\disabled.ico"
!define MUI_ABORTWARNING
; The list of what was done stays until Next.
!define MUI_FINISHPAGE_NOAUTOCLOSE
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Start Vantel now"
!define MUI_FINISHPAGE_RUN_FUNCTION StartAsUser

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "${SRCDIR}\LICENSE"
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "English"

; Setup runs elevated, and a program it started directly would too. Through the shell the
; program starts with the user's own rights, as it does at log-on.
Function StartAsUser
    Exec '"$WINDIR\explorer.exe" "$INSTDIR\vantel.exe"'
FunctionEnd

; Whether the service ran when setup stopped it, to start it again afterwards.
Var serviceWasRunning

; StopRunningCopy: asks a running vantel.exe to exit the way its tray menu does, so that it
; saves its settings, and waits for the process to end (it lets relayed sessions drain for a
; few seconds first). The same for the installer and the uninstaller.
!macro StopRunningCopy un
Function ${un}StopRunningCopy
    Push $0
    Push $1
    Push $2
    Push $3
    StrCpy $3 0
    ${Do}
        ; A message box of the program carries the same caption and is closed on the way.
        FindWindow $0 "${MAIN_WINDOW_CLASS}" "${MAIN_WINDOW_TITLE}"
        ${If} $0 = 0
            ${Break}
        ${EndIf}
        System::Call "user32::GetWindowThreadProcessId(p r0, *i .r1) i"
        ; SYNCHRONIZE: enough to wait for the process to end.
        System::Call "kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r2"
        DetailPrint "Asking the running Vantel to save its settings and exit..."
        SendMessage $0 ${WM_CLOSE} 0 0 /TIMEOUT=5000
        ${If} $2 P<> 0
            System::Call "kernel32::WaitForSingleObject(p r2, i 20000) i .r1"
            System::Call "kernel32::CloseHandle(p r2)"
        ${Else}
            Sleep 500
        ${EndIf}
        IntOp $3 $3 + 1
        ${If} $3 >= 10
            MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION \
                "Vantel is still running. Choose Exit in its tray menu, then Retry." \
                /SD IDCANCEL IDRETRY retry
            SetErrorLevel 2
            Abort "Vantel is still running; setup cannot go on."
            retry:
            StrCpy $3 0
        ${EndIf}
    ${Loop}
    Pop $3
    Pop $2
    Pop $1
    Pop $0
FunctionEnd
!macroend
!insertmacro StopRunningCopy ""
!insertmacro StopRunningCopy "un."

; Contains: out is the text of haystack from needle on, or "" (StrFunc names its
; uninstaller flavour apart).
!macro Contains un out haystack needle
    !if "${un}" == ""
        ${StrStr} ${out} ${haystack} "${needle}"
    !else
        ${UnStrStr} ${out} ${haystack} "${needle}"
    !endif
!macroend

; StopService: stops the companion service if it runs and waits until it has stopped; sets
; $serviceWasRunning. The service control manager is asked through sc.exe, as an
; administrator would.
!macro StopService un
Function ${un}StopService
    Push $0
    Push $1
    Push $2
    StrCpy $serviceWasRunning 0
    nsExec::ExecToStack 'sc query ${SERVICE}'
    Pop $0
    Pop $1
    !insertmacro Contains "${un}" $2 $1 "RUNNING"
    ${If} $0 = 0
    ${AndIf} $2 != ""
        StrCpy $serviceWasRunning 1
        DetailPrint "Stopping the service ${SERVICE}..."
        nsExec::ExecToStack 'sc stop ${SERVICE}'
        Pop $0
        Pop $1
        ${For} $0 1 40
            Sleep 250
            nsExec::ExecToStack 'sc query ${SERVICE}'
            Pop $1
            Pop $1
            !insertmacro Contains "${un}" $2 $1 "STOPPED"
            ${If} $2 != ""
                ${Break}
            ${EndIf}
        ${Next}
    ${EndIf}
    Pop $2
    Pop $1
    Pop $0
FunctionEnd
!macroend
!insertmacro StopService ""
!insertmacro StopService "un."

Section "Vantel (required)" SecProgram
    SectionIn RO
    ; An older copy in use would keep its files: it exits first, saving its settings.
    Call StopRunningCopy
    Call StopService

    SetOutPath "$INSTDIR"
    File "${BINDIR}\vantel.exe"
    File "${BINDIR}\vantel.srv"
    File "${BINDIR}\vantel-cli.exe"
    File "/oname=LICENSE.txt" "${SRCDIR}\LICENSE"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    SetShellVarContext all
    CreateShortcut "$SMPROGRAMS\Vantel.lnk" "$INSTDIR\vantel.exe" "" "$INSTDIR\vantel.exe" 0 \
        SW_SHOWNORMAL "" "Relays mail and news, rewriting headers on the way"
    SetShellVarContext current

    ; Chosen again on every install: an upgrade without the option takes the start away.
    DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\vantel.exe,0"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "URLInfoAbout" "https://vantel.example/"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

    ; A service that ran before the upgrade runs the new vantel.srv.
    ${If} $serviceWasRunning = 1
        DetailPrint "Starting the service ${SERVICE} again..."
        nsExec::ExecToLog 'sc start ${SERVICE}'
        Pop $0
    ${EndIf}
SectionEnd

Section "Start Vantel when I log on" SecAutostart
    WriteRegStr HKCU "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\vantel.exe"'
SectionEnd

Function .onInit
    ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 != ""
        ; An upgrade goes where the installed copy is, unless /D named a folder...
        ${If} $INSTDIR == "$PROGRAMFILES64\${PRODUCT}"
            StrCpy $INSTDIR $0
        ${EndIf}
        ; ...and keeps the user's choice of the start at log-on.
        ReadRegStr $1 HKCU "${RUN_KEY}" "${PRODUCT}"
        ${If} $1 == ""
            SectionSetFlags ${SecAutostart} 0
        ${EndIf}
    ${EndIf}
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/NOAUTOSTART" $1
    ${IfNot} ${Errors}
        SectionSetFlags ${SecAutostart} 0
    ${EndIf}
FunctionEnd

Section "un.Vantel" SecUninstallProgram
    SectionIn RO
    Call un.StopRunningCopy
    Call un.StopService
    ; The tray program puts the service in when it is asked to use it; it goes with the program.
    nsExec::ExecToStack 'sc delete ${SERVICE}'
    Pop $0
    Pop $1

    Delete "$INSTDIR\vantel.exe"
    Delete "$INSTDIR\vantel.srv"
    Delete "$INSTDIR\vantel-cli.exe"
    Delete "$INSTDIR\LICENSE.txt"
    Delete "$INSTDIR\uninstall.exe"
    RMDir "$INSTDIR"

    SetShellVarContext all
    Delete "$SMPROGRAMS\Vantel.lnk"
    SetShellVarContext current
    DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"
SectionEnd

; The user's settings, logs and OAuth 2.0 sign-ins (the sealed tokens in the roaming
; application data), and the machine-wide copy the service reads.
Section /o "un.Remove my settings" SecRemoveSettings
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Raderador"
    DeleteRegKey HKLM "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKLM "Software\Raderador"
    RMDir /r "$LOCALAPPDATA\Vantel"
    RMDir /r "$APPDATA\Vantel"
    SetShellVarContext all
    RMDir /r "$APPDATA\Vantel"
    SetShellVarContext current
SectionEnd

; The entry in the installed programs goes last: while it is there, the uninstall is not done.
Section "-un.Entry"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

Function un.onInit
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/REMOVESETTINGS" $1
    ${IfNot} ${Errors}
        SectionSetFlags ${SecRemoveSettings} ${SF_SELECTED}
    ${EndIf}
FunctionEnd
