; Per-user installer for the Vellomar sample application, and the template for an application's
; installer that vellomar-update.exe can run:
;   setup.exe /S /UPDATE /D=C:\Users\me\AppData\Local\Programs\Vellomar Sample
; /S       silent: no window, no question.
; /UPDATE  started by the update helper: keep the installation as it is (no directory page,
;          no new shortcut) and close as soon as the files are in place.
; /D=dir   installation directory; NSIS requires it last and unquoted, even with spaces.
; Exit code 0 only when every file was written; 2 when the installation failed.
;
; Build: makensis -DVERSION=2.1.0 -DAPP_EXE=path\to\sample-app.exe -DHELPER_EXE=path\to\vellomar-update.exe
;                 -DOUTFILE=path\to\setup.exe vellomar-sample.nsi

Unicode true
; 64-bit, so that its registry writes land in the view the 64-bit helper stamps.
Target amd64-unicode
; Per user: the helper is not elevated, and Windows refuses it an installer that asks for
; administrator rights (ERROR_ELEVATION_REQUIRED); it would end in the consent prompt and the wizard.
RequestExecutionLevel user
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include FileFunc.nsh

!ifndef VERSION | APP_EXE | HELPER_EXE | OUTFILE
  !error "Pass -DVERSION=x.y.z -DAPP_EXE=<sample-app.exe> -DHELPER_EXE=<vellomar-update.exe> -DOUTFILE=<setup.exe>"
!endif

; VersionMajor and VersionMinor of the uninstall entry, from "major.minor.patch" ("3" gives 3 and 0).
!searchparse /noerrors "${VERSION}.." "" VERSION_MAJOR "." VERSION_MINOR "."
!if "${VERSION_MINOR}" == ""
  !define /redef VERSION_MINOR 0
!endif

!define PRODUCT "Vellomar Sample"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Vellomar"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
; An interactive reinstall proposes the directory of the existing installation.
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show

Var UpdateMode

Page directory SkipPageInUpdateMode
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; Marks the installation failed: exit code 2, and nothing after this point runs.
!macro AbortOnError what
  ${If} ${Errors}
    SetErrorLevel 2
    Abort "Could not write ${what}"
  ${EndIf}
!macroend

Function .onInit
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/UPDATE" $1
  ${If} ${Errors}
    StrCpy $UpdateMode 0
  ${Else}
    StrCpy $UpdateMode 1
    SetAutoClose true
  ${EndIf}
FunctionEnd

Function SkipPageInUpdateMode
  ${If} $UpdateMode == 1
    Abort
  ${EndIf}
FunctionEnd

Section "Install"
  ClearErrors
  SetOutPath "$INSTDIR"
  !insertmacro AbortOnError "$INSTDIR"

  ; Without these checks a silent installer skips a file that is in use (the default answer to
  ; NSIS's Abort/Retry/Ignore box is Ignore) and still ends with exit code 0.
  SetOverwrite on
  ClearErrors
  File "/oname=sample-app.exe" "${APP_EXE}"
  !insertmacro AbortOnError "$INSTDIR\sample-app.exe"

  ; The helper ships beside the application. The application never runs this file: it starts a
  ; copy outside the installation (vellomar_start_update), so an update can replace it too.
  ClearErrors
  File "/oname=vellomar-update.exe" "${HELPER_EXE}"
  !insertmacro AbortOnError "$INSTDIR\vellomar-update.exe"

  ClearErrors
  FileOpen $0 "$INSTDIR\version.txt" w
  FileWrite $0 "${VERSION}"
  FileClose $0
  !insertmacro AbortOnError "$INSTDIR\version.txt"

  ClearErrors
  WriteUninstaller "$INSTDIR\uninstall.exe"
  !insertmacro AbortOnError "$INSTDIR\uninstall.exe"

  ClearErrors
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "VersionMajor" ${VERSION_MAJOR}
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "VersionMinor" ${VERSION_MINOR}
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\sample-app.exe"
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  !insertmacro AbortOnError "the uninstall entry"

  ; An update leaves the shortcuts as the user arranged them.
  ${If} $UpdateMode == 0
    CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\sample-app.exe"
  ${EndIf}
SectionEnd

Section "Uninstall"
  ; A running application keeps its executable: stop before the entry disappears.
  ClearErrors
  Delete "$INSTDIR\sample-app.exe"
  ${If} ${Errors}
    SetErrorLevel 2
    Abort "Could not remove $INSTDIR\sample-app.exe; close ${PRODUCT} and try again"
  ${EndIf}
  Delete "$INSTDIR\vellomar-update.exe"
  Delete "$INSTDIR\version.txt"
  Delete "$INSTDIR\sample-app.log"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd
