; The Windows installer of Dorvane (NSIS 3, built by scripts/windows.sh):
; a 64-bit, per-machine install under Program Files\Dorvane with a Start-menu
; shortcut and an entry under "Apps and features". Installing over an older
; version runs that version's uninstaller first, in place, so its files go
; and one entry remains. /S installs and removes silently; nothing asks for
; a reboot.
;
; makensis -INPUTCHARSET UTF8 defines:
;   DV_VERSION    MAJOR.MINOR.PATCH
;   DV_OUTFILE    the installer to write
;   DV_ICON       dorvane.ico
;   DV_FILES      an include of the folder's SetOutPath/File lines
;   DV_UNFILES    an include of the matching Delete/RMDir lines
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!include MUI2.nsh
!include FileFunc.nsh
!include LogicLib.nsh
!include x64.nsh

!define DV_MENU_NAME "Dorvane 数据库管理"
!define DV_PUBLISHER "Dorvane maintainers"
!define DV_UNINST_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Dorvane"

Name "${DV_MENU_NAME}"
OutFile "${DV_OUTFILE}"
InstallDir "$PROGRAMFILES64\Dorvane"
; An installed version fixes the folder: the upgrade goes where it is.
InstallDirRegKey HKLM "${DV_UNINST_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${DV_VERSION}.0"
VIFileVersion "${DV_VERSION}.0"
VIAddVersionKey /LANG=2052 "ProductName" "Dorvane"
VIAddVersionKey /LANG=2052 "ProductVersion" "${DV_VERSION}"
VIAddVersionKey /LANG=2052 "CompanyName" "${DV_PUBLISHER}"
VIAddVersionKey /LANG=2052 "FileDescription" "${DV_MENU_NAME} 安装程序"
VIAddVersionKey /LANG=2052 "FileVersion" "${DV_VERSION}"
VIAddVersionKey /LANG=2052 "LegalCopyright" "Copyright 2026 ${DV_PUBLISHER}"

!define MUI_ICON "${DV_ICON}"
!define MUI_UNICON "${DV_ICON}"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "SimpChinese"

Function .onInit
  ${IfNot} ${RunningX64}
    MessageBox MB_ICONSTOP|MB_OK "${DV_MENU_NAME} 需要 64 位 Windows。" /SD IDOK
    Abort
  ${EndIf}
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Dorvane"
  ; An installed version (older, or this one again): its own uninstaller
  ; removes its files, shortcut and entry. _?= keeps it from copying itself
  ; away, so ExecWait really waits for it.
  ReadRegStr $0 HKLM "${DV_UNINST_KEY}" "InstallLocation"
  ${If} $0 != ""
  ${AndIf} ${FileExists} "$0\uninstall.exe"
    DetailPrint "卸载已安装的版本: $0"
    ExecWait '"$0\uninstall.exe" /S _?=$0' $1
    ${If} $1 != 0
      MessageBox MB_ICONSTOP|MB_OK "无法卸载已安装的版本 ($1)。" /SD IDOK
      Abort
    ${EndIf}
    Delete "$0\uninstall.exe"
    RMDir "$0"
  ${EndIf}

  !include "${DV_FILES}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The shortcut starts the tool in its own folder.
  SetOutPath "$INSTDIR"
  CreateShortcut "$SMPROGRAMS\${DV_MENU_NAME}.lnk" "$INSTDIR\dorvane.exe" "" "$INSTDIR\dorvane.exe" 0

  WriteRegStr HKLM "${DV_UNINST_KEY}" "DisplayName" "${DV_MENU_NAME}"
  WriteRegStr HKLM "${DV_UNINST_KEY}" "DisplayVersion" "${DV_VERSION}"
  WriteRegStr HKLM "${DV_UNINST_KEY}" "Publisher" "${DV_PUBLISHER}"
  WriteRegStr HKLM "${DV_UNINST_KEY}" "DisplayIcon" "$INSTDIR\dorvane.exe,0"
  WriteRegStr HKLM "${DV_UNINST_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${DV_UNINST_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${DV_UNINST_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${DV_UNINST_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${DV_UNINST_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $2 $3 $4
  WriteRegDWORD HKLM "${DV_UNINST_KEY}" "EstimatedSize" $2
SectionEnd

Section "Uninstall"
  !include "${DV_UNFILES}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${DV_MENU_NAME}.lnk"
  DeleteRegKey HKLM "${DV_UNINST_KEY}"
SectionEnd
