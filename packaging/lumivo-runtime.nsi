; The Windows installer of Lumivo Runtime: the agent under Program Files,
; started at log-in through the current user's Run key, and an uninstaller
; that removes both again. "/S" installs and uninstalls silently.
;   makensis -DVERSION=1.1.1 -DAGENT_EXE=lumivo-runtime.exe -DICON=icon.ico
;            -DOUTFILE=lumivo-runtime-setup.exe lumivo-runtime.nsi

Unicode true
!include LogicLib.nsh
Target amd64-unicode
SetCompressor /SOLID lzma

!define PRODUCT "Lumivo Runtime"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The dialog's exit command (the framework's ID_APP_EXIT): the agent ends as
; from its own menu, telling the service first.
!define WM_COMMAND 0x0111
!define APP_EXIT_COMMAND 57665

Name "${PRODUCT}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
RequestExecutionLevel admin
ShowInstDetails show
VIProductVersion "${VERSION}.0"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "FileDescription" "${PRODUCT} installer"
VIAddVersionKey "LegalCopyright" "Copyright (C) 2026 The Lumivo Runtime developers"

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; A running agent holds its file: ask it to end and wait for its window to
; go, up to 60 s (its shutdown sends one request to the service).
!macro CloseAgent
  FindWindow $0 "" "${PRODUCT}"
  ${If} $0 <> 0
    DetailPrint "Closing the running ${PRODUCT}"
    SendMessage $0 ${WM_COMMAND} ${APP_EXIT_COMMAND} 0 /TIMEOUT=5000
    StrCpy $1 0
    ${Do}
      Sleep 500
      IntOp $1 $1 + 1
      ${IfThen} $1 >= 120 ${|} ${ExitDo} ${|}
      FindWindow $0 "" "${PRODUCT}"
    ${LoopUntil} $0 = 0
  ${EndIf}
!macroend

Section "${PRODUCT}"
  SetRegView 64
  !insertmacro CloseAgent
  SetOutPath "$INSTDIR"
  File "/oname=lumivo-runtime.exe" "${AGENT_EXE}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKCU "${RUN_KEY}" "${PRODUCT}" '"$INSTDIR\lumivo-runtime.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\lumivo-runtime.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  SetRegView 64
  !insertmacro CloseAgent
  DeleteRegValue HKCU "${RUN_KEY}" "${PRODUCT}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  Delete /REBOOTOK "$INSTDIR\lumivo-runtime.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
SectionEnd
