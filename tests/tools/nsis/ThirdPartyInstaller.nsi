; A real third-party installer for the launcher tests, built natively with makensis:
;   makensis [-DARCH=x64] -DOUTFILE=<exe> ThirdPartyInstaller.nsi
; Silent, LZMA-compressed, exit code 3. It installs this script as "payload.nsi"
; into the folder given with /D=, and beside it "launch.txt": the folder it ran
; from ($EXEDIR, the launcher's work folder) and its command line, one a line.
!if "${ARCH}" == "x64"
Unicode true
Target amd64-unicode
!endif
SetCompressor lzma
SilentInstall silent
RequestExecutionLevel user
Name "ThirdPartyInstaller"
OutFile "${OUTFILE}"
InstallDir "$TEMP\ThirdPartyInstaller"

Section
  SetOutPath "$INSTDIR"
  File "/oname=payload.nsi" "ThirdPartyInstaller.nsi"
  FileOpen $0 "$INSTDIR\launch.txt" w
  FileWrite $0 "$EXEDIR$\r$\n$CMDLINE$\r$\n"
  FileClose $0
  SetErrorLevel 3
SectionEnd
