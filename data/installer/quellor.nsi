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

; Internet Explorer holds a browser helper while a browser window is open: then the new one
; waits beside it and takes its place when Windows restarts. $2 names the helpers held.
!macro InstallHelper NAME ID
  Delete "$INSTDIR\${NAME}"
  IfFileExists "$INSTDIR\${NAME}" 0 helper_free_${ID}
    File /oname=${NAME}.new "${SOURCE}/${NAME}"
    Rename /REBOOTOK "$INSTDIR\${NAME}.new" "$INSTDIR\${NAME}"
    StrCmp $2 "" 0 +3
      StrCpy $2 "${NAME}"
      Goto helper_done_${ID}
    StrCpy $2 "$2 and ${NAME}"
    Goto helper_done_${ID}
  helper_free_${ID}:
    File "${SOURCE}/${NAME}"
  helper_done_${ID}:
!macroend

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
  ; A Quellor running in another user's session is out of reach and keeps its program file,
  ; which cannot be deleted but can be renamed: it is moved aside, deleted at the next
  ; restart, and that user gets the new one at their next start. Nothing to ask: no box.
  Delete "$INSTDIR\QUELLOR.EXE"
  IfFileExists "$INSTDIR\QUELLOR.EXE" 0 program_free
    ; One an earlier upgrade moved aside goes now, if its program has ended since.
    StrCpy $3 "$INSTDIR\QUELLOR.EXE.old"
    Delete $3
    IfFileExists $3 0 program_aside
      GetTempFileName $3 "$INSTDIR"
      Delete $3
    program_aside:
    Rename "$INSTDIR\QUELLOR.EXE" $3
    Delete /REBOOTOK $3
  program_free:
  File "${SOURCE}/QUELLOR.EXE"
  ; The helper of 32-bit browsers and the one of 64-bit browsers: both ship, QUELLOR.EXE /i
  ; registers the 64-bit one only on 64-bit Windows.
  StrCpy $2 ""
  !insertmacro InstallHelper QUELLOR.DLL 32
  !insertmacro InstallHelper QUELLOR64.DLL 64
  StrCmp $2 "" helpers_done
    MessageBox MB_OK|MB_ICONINFORMATION "A browser window is using the Quellor browser helper ($2). The new version will take its place when you restart Windows; until then the browser keeps the old one." /SD IDOK
  helpers_done:
  File "${SOURCE}/quellor.chm"
  File "${SOURCE}/license.txt"
  File "${SOURCE}/gunshot.wav"
  File "${SOURCE}/whoosh.wav"
  File "${SOURCE}/laser.wav"
  ; Not waited for: after installing, Quellor goes on running in the tray.
  Exec '"$INSTDIR\QUELLOR.EXE" /i'
SectionEnd
