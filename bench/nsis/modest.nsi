; An NSIS installer doing the job of a "modest" run of ours, for the side-by-side timing:
; find the product folder through the uninstall entry, write the payload there, measure the
; folder and record "EstimatedSize". Run with /S.
;   makensis -DPAYLOAD=FILE -DOUTFILE=FILE [-DTARGET=amd64-unicode]
!ifndef TARGET
  !define TARGET amd64-unicode
!endif
Unicode true
Target ${TARGET}
; The payload does not compress; storing it spares the run a pointless inflate.
SetCompress off
Name "Mirvane update"
OutFile "${OUTFILE}"
RequestExecutionLevel admin

!include FileFunc.nsh
!define ENTRY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Mirvane"

Section
  SetRegView 64
  ReadRegStr $0 HKLM "${ENTRY}" "UninstallString"
  StrCmp $0 "" 0 +2
    Abort
  ${GetParent} "$0" $INSTDIR
  SetOutPath "$INSTDIR"
  File "/oname=mvm3.pak" "${PAYLOAD}"
  ${GetSize} "$INSTDIR" "/S=0K" $1 $2 $3
  WriteRegDWORD HKLM "${ENTRY}" "EstimatedSize" $1
SectionEnd
