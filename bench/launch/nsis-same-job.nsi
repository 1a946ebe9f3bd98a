; The launch benchmark's reference installer: the same job as Setup.exe, done by NSIS.
; Stores (no compression; with COMPRESSOR, compressed by it) the bench installer and
; the payload, extracts them to $PLUGINSDIR, waits for the installer there, and lets
; NSIS delete $PLUGINSDIR.
; makensis [-DARCH=x86|x64] [-DCOMPRESSOR=zlib] -DOUTFILE=... -DINSTALLER=... [-DPAYLOAD=<folder>]
;          [-DWINDOW] nsis-same-job.nsi
; Silent unless WINDOW is defined: then it shows its progress page while it works
; and closes it by itself (run it without /S). ARCH x64 makes a 64-bit installer
; (Unicode: NSIS has no other amd64 stub); anything else the ANSI x86 one.
!if "${ARCH}" == "x64"
Unicode true
Target amd64-unicode
!else
Unicode false
!endif
!ifdef COMPRESSOR
SetCompressor ${COMPRESSOR}
!else
SetCompress off
!endif
!ifdef WINDOW
AutoCloseWindow true
Page instfiles
!else
SilentInstall silent
!endif
RequestExecutionLevel user
Name "bench"
OutFile "${OUTFILE}"

Section
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
!ifdef PAYLOAD
  File "${PAYLOAD}/*.*"
!endif
  File "/oname=setup.exe" "${INSTALLER}"
  ExecWait '"$PLUGINSDIR\setup.exe" /S'
  ; Leave the folder so that NSIS can remove it at exit.
  SetOutPath "$TEMP"
SectionEnd
