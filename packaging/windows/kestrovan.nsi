; SPDX-License-Identifier: GPL-3.0-or-later
; Kestrovan's per-user installer: no administrator rights, the programs under the user's own
; %LOCALAPPDATA%\Programs\Kestrovan, Start-menu shortcuts for Kestrovan and Pelvaro, and an
; uninstaller in the user's programs list. Built by scripts/windows-package.sh, which defines
; VERSION, ICON, STAGE (the folder to install), FILES and UNFILES (the lists of its files) and
; OUTFILE.
; The uninstaller removes what was installed and nothing else: the call log, the totals, the
; trace and the settings in the registry stay the user's.
; The programs are 64-bit, and so is the installer (Wine without its 32-bit part runs it too).
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel user

!include "MUI2.nsh"

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kestrovan"

Name "Kestrovan"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\Kestrovan"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "Kestrovan ${VERSION}"

VIProductVersion "0.66.0.0"
VIAddVersionKey /LANG=1041 "ProductName" "Kestrovan"
VIAddVersionKey /LANG=1041 "FileDescription" "Kestrovan セットアップ"
VIAddVersionKey /LANG=1041 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1041 "CompanyName" "Qel"
VIAddVersionKey /LANG=1041 "LegalCopyright" "GPL-3.0-or-later"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\kestrovan.exe"
!insertmacro MUI_PAGE_LICENSE "${STAGE}\COPYING.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

Section "Kestrovan"
  SetShellVarContext current
  SetOutPath "$INSTDIR"
  !include "${FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateDirectory "$SMPROGRAMS\Kestrovan"
  CreateShortcut "$SMPROGRAMS\Kestrovan\Kestrovan.lnk" "$INSTDIR\kestrovan.exe"
  CreateShortcut "$SMPROGRAMS\Kestrovan\Pelvaro.lnk" "$INSTDIR\pelvaro.exe"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Kestrovan"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Qel"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\kestrovan.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetShellVarContext current
  !include "${UNFILES}"
  Delete "$INSTDIR\uninstall.exe"
  ; Only when empty: the data files written beside the program stay.
  RMDir "$INSTDIR"

  Delete "$SMPROGRAMS\Kestrovan\Kestrovan.lnk"
  Delete "$SMPROGRAMS\Kestrovan\Pelvaro.lnk"
  RMDir "$SMPROGRAMS\Kestrovan"

  ; Starting at logon would start a program that is gone.
  DeleteRegValue HKCU "Software\Microsoft\Windows\CurrentVersion\Run" "Kestrovan"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
