; The Windows installer: the program's folder into Program Files for every user of the machine,
; Start-menu shortcuts for the program and for its restore window, and an uninstaller registered
; with Windows. It installs nothing else and writes no settings of the program's own (the program
; keeps none).
;
; tools/build-windows runs makensis with these defined: VERSION (1.0.4), TITLE (the window's title),
; FILES and UNFILES (the generated lists of what to install and what to remove), ICON, OUTFILE.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!define KEY_NAME "dorvik2solvane"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${KEY_NAME}"
; A file name cannot hold '>', so the shortcut reads like the README's title.
!define SHORTCUT "$SMPROGRAMS\Dorvik → SolvanePlus 자료 복사.lnk"
; The restore window: puts a run's backups back (dorvik2solvane --restore).
!define RESTORE_SHORTCUT "$SMPROGRAMS\Dorvik → SolvanePlus 자료 복원.lnk"
; The rehearsal on copies, which changes nothing (dorvik2solvane --rehearse).
!define REHEARSE_SHORTCUT "$SMPROGRAMS\Dorvik → SolvanePlus 자료 복사 미리 해보기.lnk"

Name "${TITLE} ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
; A 32-bit program: on 64-bit Windows this is "Program Files (x86)".
InstallDir "$PROGRAMFILES\Dorvik2SolvanePlus"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

!include "MUI2.nsh"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Korean"

VIProductVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_KOREAN} "ProductName" "${TITLE}"
VIAddVersionKey /LANG=${LANG_KOREAN} "FileDescription" "${TITLE} 설치"
VIAddVersionKey /LANG=${LANG_KOREAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_KOREAN} "ProductVersion" "${VERSION}"

Section "Install"
    SetShellVarContext all
    !include "${FILES}"
    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\uninstall.exe"

    CreateShortCut "${SHORTCUT}" "$INSTDIR\dorvik2solvane.exe" "" "$INSTDIR\dorvik2solvane.exe" 0
    CreateShortCut "${RESTORE_SHORTCUT}" "$INSTDIR\dorvik2solvane.exe" "--restore" \
        "$INSTDIR\dorvik2solvane.exe" 0
    CreateShortCut "${REHEARSE_SHORTCUT}" "$INSTDIR\dorvik2solvane.exe" "--rehearse" \
        "$INSTDIR\dorvik2solvane.exe" 0

    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${TITLE}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\dorvik2solvane.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
    SetShellVarContext all
    Delete "${SHORTCUT}"
    Delete "${RESTORE_SHORTCUT}"
    Delete "${REHEARSE_SHORTCUT}"
    !include "${UNFILES}"
    Delete "$INSTDIR\uninstall.exe"
    ; Removed only when empty: files the user put there stay.
    RMDir "$INSTDIR"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
