; The launch benchmark's reference installer: the same job as Setup.exe, done by NSIS.
; Stores (no compression) the bench installer and the payload, extracts them to
; $PLUGINSDIR, waits for the installer there, and lets NSIS delete $PLUGINSDIR.
; makensis -DOUTFILE=... -DINSTALLER=... -DPAYLOAD=<folder> nsis-same-job.nsi
Unicode false
SetCompress off
SilentInstall silent
RequestExecutionLevel user
Name "bench"
OutFile "${OUTFILE}"

Section
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "${PAYLOAD}/*.*"
  File "/oname=setup.exe" "${INSTALLER}"
  ExecWait '"$PLUGINSDIR\setup.exe" /S'
  ; Leave the folder so that NSIS can remove it at exit.
  SetOutPath "$TEMP"
SectionEnd
