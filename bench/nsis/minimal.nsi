; The smallest NSIS installer that carries the payload, stored as it is: its size minus the
; payload is what NSIS itself costs. The x86 stub: this is the size a user would download.
;   makensis -DPAYLOAD=FILE -DOUTFILE=FILE
Unicode true
SetCompress off
Name "Mirvane update"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\Mirvane"
RequestExecutionLevel admin

Section
  SetOutPath "$INSTDIR"
  File "/oname=mvm3.pak" "${PAYLOAD}"
SectionEnd
