; The Windows installer: puts the program folder into Program Files\Quellor and lets
; QUELLOR.EXE /i do the rest (browser helper, shortcuts, the uninstall entry).
; Built by `make dist`, which defines VERSION, SOURCE (the clean program folder) and OUTFILE.
!ifndef VERSION | SOURCE | OUTFILE
  !error "Build this with make dist"
!endif

!include "WinMessages.nsh"

Unicode true
Name "Quellor"
Caption "Quellor ${VERSION} Setup"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Quellor"
; An installed copy says where it lives: a new version goes over it, in the same folder.
InstallDirRegKey HKLM "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quellor" "InstallLocation"
; Registering the browser helper and the uninstall entry need the machine's keys.
RequestExecutionLevel admin
SetCompressor /SOLID lzma
Icon "${__FILEDIR__}/../quellor.ico"
BrandingText "Quellor ${VERSION}"
ShowInstDetails show

VIProductVersion "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "Quellor"
VIAddVersionKey /LANG=1033 "CompanyName" "Tandrel"
VIAddVersionKey /LANG=1033 "FileDescription" "Quellor Setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) Tandrel"

LicenseText "Please read the license agreement before installing Quellor."
LicenseData "${SOURCE}/license.txt"

Page license
Page directory
Page instfiles

Section "Quellor"
  ; A running Quellor holds QUELLOR.EXE open: end it the way Windows ends a session.
  StrCpy $1 0
  close_running:
    FindWindow $0 "TfrmMain" "Quellor"
    StrCmp $0 0 copy_files
    SendMessage $0 ${WM_QUERYENDSESSION} 0 0 /TIMEOUT=5000
    Sleep 500
    IntOp $1 $1 + 1
    IntCmp $1 10 copy_files close_running copy_files
  copy_files:
  ; Only the product's own files are written: the rule file (quellor.rul), the history log
  ; (quellor.log) and the settings in the user's key stay as they were.
  SetOutPath "$INSTDIR"
  File "${SOURCE}/QUELLOR.EXE"
  ; Internet Explorer holds the browser helper while a browser window is open: then the new
  ; one waits beside it and takes its place when Windows restarts.
  Delete "$INSTDIR\QUELLOR.DLL"
  IfFileExists "$INSTDIR\QUELLOR.DLL" 0 helper_free
    File /oname=QUELLOR.DLL.new "${SOURCE}/QUELLOR.DLL"
    Rename /REBOOTOK "$INSTDIR\QUELLOR.DLL.new" "$INSTDIR\QUELLOR.DLL"
    MessageBox MB_OK|MB_ICONINFORMATION "A browser window is using the Quellor browser helper (QUELLOR.DLL). The new one will take its place when you restart Windows; until then the browser keeps the old one." /SD IDOK
    Goto helper_done
  helper_free:
    File "${SOURCE}/QUELLOR.DLL"
  helper_done:
  File "${SOURCE}/quellor.chm"
  File "${SOURCE}/license.txt"
  File "${SOURCE}/gunshot.wav"
  File "${SOURCE}/whoosh.wav"
  File "${SOURCE}/laser.wav"
  ; Not waited for: after installing, Quellor goes on running in the tray.
  Exec '"$INSTDIR\QUELLOR.EXE" /i'
SectionEnd
