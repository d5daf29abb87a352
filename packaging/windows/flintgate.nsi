; The Windows installer: the programs, the help file and the user guide into
; C:\Program Files\Flintgate, a Start-menu shortcut, an uninstaller and its entry under
; Uninstall. /S installs and uninstalls silently. Built by the target flintgate-setup
; (packaging/windows/CMakeLists.txt), which defines:
;   VERSION, FILE_VERSION (four numbers), OUTFILE, CLI_EXE, HELP_CHM, GUIDE_HTML and, when the
;   build has them, WINDOW_EXE and SIM_EXE.
; A 64-bit installer: the default 32-bit stub runs in the 32-bit views of the file system and
; the registry, where a 64-bit program does not belong.
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Flintgate"
!define PUBLISHER "The Flintgate developers"

Name "Flintgate ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\Flintgate"
BrandingText "Flintgate ${VERSION}"

VIProductVersion "${FILE_VERSION}"
VIFileVersion "${FILE_VERSION}"
VIAddVersionKey "ProductName" "Flintgate"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "Flintgate ${VERSION} Setup"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 ${PUBLISHER}"

; The shortcut opens the window; without one in the build, the user guide.
!ifdef WINDOW_EXE
  !define SHORTCUT "$SMPROGRAMS\Flintgate.lnk"
  !define SHORTCUT_TARGET "$INSTDIR\flintgate.exe"
!else
  !define SHORTCUT "$SMPROGRAMS\Flintgate User Guide.lnk"
  !define SHORTCUT_TARGET "$INSTDIR\FlintgateHelp_204.html"
!endif

!include "MUI2.nsh"
!define MUI_ABORTWARNING
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; For every user of the machine: the Start menu of all users, the 64-bit registry.
Function .onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Function un.onInit
  SetShellVarContext all
  SetRegView 64
FunctionEnd

Section "Flintgate"
  SetOutPath "$INSTDIR"
  File "/oname=flintgate-cli.exe" "${CLI_EXE}"
!ifdef WINDOW_EXE
  File "/oname=flintgate.exe" "${WINDOW_EXE}"
!endif
!ifdef SIM_EXE
  File "/oname=flintgate-sim.exe" "${SIM_EXE}"
!endif
  File "/oname=FlintgateHelp_204.chm" "${HELP_CHM}"
  File "/oname=FlintgateHelp_204.html" "${GUIDE_HTML}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  CreateShortcut "${SHORTCUT}" "${SHORTCUT_TARGET}"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Flintgate ${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
!ifdef WINDOW_EXE
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\flintgate.exe"
!endif
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes what any build of this version installs (a file that is not there is passed over);
; files a user added keep the folder.
Section "Uninstall"
  Delete "$SMPROGRAMS\Flintgate.lnk"
  Delete "$SMPROGRAMS\Flintgate User Guide.lnk"
  Delete "$INSTDIR\flintgate.exe"
  Delete "$INSTDIR\flintgate-cli.exe"
  Delete "$INSTDIR\flintgate-sim.exe"
  Delete "$INSTDIR\FlintgateHelp_204.chm"
  Delete "$INSTDIR\FlintgateHelp_204.html"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
