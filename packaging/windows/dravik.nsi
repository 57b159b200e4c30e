; The installer of the DRAVIK monitor for 64-bit Windows: both monitors and the unit simulator
; in Program Files, a Start-menu folder with both monitors, and an uninstaller that the
; system's list of installed programs shows. /S installs (and uninstalls) without a question.
; Made by the Windows build's windows-packages target:
;   makensis -DVERSION=1.0.1.0 -DSTAGE=<the portable folder> -DICON=<.ico> -DOUTFILE=<setup.exe>
;     dravik.nsi
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"

!define PRODUCT "DRAVIK monitor"
!define PUBLISHER "DRAVIK monitor team"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\DRAVIK"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\DRAVIK"
; Program Files and the machine's uninstall list need an administrator.
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=1041 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1041 "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=1041 "FileDescription" "${PRODUCT} setup"
VIAddVersionKey /LANG=1041 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "LegalCopyright" "MIT licence"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
; The operators' language first; the installer follows the system's.
!insertmacro MUI_LANGUAGE "Japanese"
!insertmacro MUI_LANGUAGE "English"

Section "${PRODUCT}"
  SetRegView 64
  ; Shortcuts for every user of the machine, like the programs themselves.
  SetShellVarContext all
  SetOutPath "$INSTDIR"
  File "${STAGE}\DRAVIK_A.exe"
  File "${STAGE}\DRAVIK_B.exe"
  File "${STAGE}\dravik-unit.exe"
  File "${STAGE}\README.txt"
  File "${STAGE}\LICENSE.txt"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\DRAVIK"
  CreateShortcut "$SMPROGRAMS\DRAVIK\DRAVIK_A.lnk" "$INSTDIR\DRAVIK_A.exe"
  CreateShortcut "$SMPROGRAMS\DRAVIK\DRAVIK_B.lnk" "$INSTDIR\DRAVIK_B.exe"
  CreateShortcut "$SMPROGRAMS\DRAVIK\README.lnk" "$INSTDIR\README.txt"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\DRAVIK_A.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  SectionGetSize 0 $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; The per-user folders (%APPDATA%\dravik, %LOCALAPPDATA%\dravik) hold the operators' settings
; and logs: they stay.
Section "Uninstall"
  SetRegView 64
  SetShellVarContext all
  Delete "$SMPROGRAMS\DRAVIK\DRAVIK_A.lnk"
  Delete "$SMPROGRAMS\DRAVIK\DRAVIK_B.lnk"
  Delete "$SMPROGRAMS\DRAVIK\README.lnk"
  RMDir "$SMPROGRAMS\DRAVIK"
  Delete "$INSTDIR\DRAVIK_A.exe"
  Delete "$INSTDIR\DRAVIK_B.exe"
  Delete "$INSTDIR\dravik-unit.exe"
  Delete "$INSTDIR\README.txt"
  Delete "$INSTDIR\LICENSE.txt"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
