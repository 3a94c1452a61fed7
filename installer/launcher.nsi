; The player's installer: the launcher and what it loads, into a folder of the
; player's choice, a start-menu entry, and an uninstaller. The game folder is the
; installation folder: the launcher keeps config.xml, clientes\ and imagens\ there.
;
; makensis -DVERSION=1.2 -DFILES=<installed files> -DICON=<icon.ico> -DOUTFILE=<setup.exe> launcher.nsi

; The launcher is a 64-bit program: so is its installer.
Target amd64-unicode
!include "MUI2.nsh"
!include "x64.nsh"
!include "FileFunc.nsh"
!include "LogicLib.nsh"
!include "Sections.nsh"

!define PRODUCT "Launcher ZEV & MIR Ondra"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\LauncherZevMirOndra"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\ZEV MIR Ondra"
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
; The launcher writes beside itself, under Program Files: it runs as administrator.
RequestExecutionLevel admin
SetCompressor /SOLID lzma
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1046 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1046 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1046 "FileDescription" "Instalador do ${PRODUCT}"
VIAddVersionKey /LANG=1046 "LegalCopyright" "ZEV & MIR Ondra"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_FINISHPAGE_RUN "$INSTDIR\launcher.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Abrir o launcher agora"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "PortugueseBR"

Function .onInit
    SetRegView 64
    SetShellVarContext all
FunctionEnd

Section "Launcher"
    SetOutPath "$INSTDIR"
    File /r "${FILES}/*"
    ; The launcher creates no folders of its own.
    CreateDirectory "$INSTDIR\clientes"
    CreateDirectory "$INSTDIR\imagens"
    WriteUninstaller "$INSTDIR\desinstalar.exe"
    ; Started from the start menu, the launcher's working folder is its own.
    SetOutPath "$INSTDIR"
    CreateShortCut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\launcher.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\launcher.exe"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\desinstalar.exe"'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; What the installer put there goes in any case.
Section "-un.Launcher"
    Delete "$SMPROGRAMS\${PRODUCT}.lnk"
    Delete "$INSTDIR\launcher.exe"
    Delete "$INSTDIR\newLauncher.exe"
    Delete "$INSTDIR\*.dll"
    RMDir /r "$INSTDIR\platforms"
    RMDir /r "$INSTDIR\imageformats"
    RMDir /r "$INSTDIR\styles"
    RMDir /r "$INSTDIR\resources"
    Delete "$INSTDIR\launcher.log"
    Delete "$INSTDIR\launcher.log.1"
    Delete "$INSTDIR\*.~part*"
    Delete "$INSTDIR\desinstalar.exe"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

; What the player downloaded and chose goes unless they keep it.
Section "un.Jogos baixados e configuração" SectionPlayerFiles
    RMDir /r "$INSTDIR\clientes"
    RMDir /r "$INSTDIR\imagens"
    Delete "$INSTDIR\config.xml"
    Delete "$INSTDIR\config.xml.bad"
SectionEnd

; Removed only when nothing of the player's is left in it.
Section "-un.Folder"
    RMDir "$INSTDIR\clientes"
    RMDir "$INSTDIR\imagens"
    RMDir "$INSTDIR"
SectionEnd

; /MANTER keeps them without asking, for an uninstall with /S.
Function un.onInit
    SetRegView 64
    SetShellVarContext all
    ${un.GetParameters} $R0
    ClearErrors
    ${un.GetOptions} $R0 "/MANTER" $R1
    ${IfNot} ${Errors}
        !insertmacro UnselectSection ${SectionPlayerFiles}
    ${EndIf}
FunctionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
    !insertmacro MUI_DESCRIPTION_TEXT ${SectionPlayerFiles} "Desmarque para manter os clientes já baixados e o config.xml nesta pasta."
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END
