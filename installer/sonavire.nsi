; Sonavire's installer: the plug-in for Windows Media Player, per machine.
;   makensis -DVERSION=0.1.01.53 -DOUTFILE=setup.exe -DDLL32=... -DDLL64=... -DHELPER=... -DOFFLINE=... sonavire.nsi
; Installs the 32-bit Sonavire.dll (and on 64-bit Windows the 64-bit one, under x64\) into
; "C:\Program Files\Sonavire", the folder that also holds the lyrics cache, with the offline pages;
; registers each with the regsvr32 of its width, and undoes everything when a registration fails;
; lets the Users group write the cache folder and the plug-in's settings key (standard users cannot
; write under Program Files or HKLM); keeps the user's settings across an upgrade; writes an
; uninstaller and an entry in Apps and Features. /S installs silently.

Unicode true
RequestExecutionLevel admin
SetCompressor /SOLID lzma

!include LogicLib.nsh
!include x64.nsh
!include FileFunc.nsh

!define PRODUCT "Sonavire"
!define PUBLISHER "Sonavire"
!define CLSID "{6A1D3E52-9B47-4C08-B2F1-5E0C8D7A3F14}"
!define PLUGIN_KEY "Software\Microsoft\MediaPlayer\UIPlugins\${CLSID}"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT}"
; The folder the plug-in reads its cache and offline pages from, whatever the DLLs' folder.
!define PLUGIN_FOLDER "$PROGRAMFILES64\${PRODUCT}"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES64\${PRODUCT}"
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Var registered32
Var registered64
; The user's settings under the plug-in's key, kept across a registration (which replaces the key).
Var keptUser
Var keptPassword
Var keptTranslation
Var keptLyricsHost
Var keptCommunityHost
Var keptSplitPos

Function .onInit
    ; Not twice at once: a second installer would race the first one's registry and files.
    System::Call 'kernel32::CreateMutexW(p 0, i 0, w "SonavireSetupRunning") p .r1 ?e'
    Pop $0
    ${If} $0 = 183
        MessageBox MB_ICONSTOP "${PRODUCT} Setup is already running." /SD IDOK
        SetErrorLevel 3
        Abort
    ${EndIf}
    System::Call 'shell32::IsUserAnAdmin() i .r0'
    ${If} $0 = 0
        MessageBox MB_ICONSTOP "${PRODUCT} is installed for every user of this computer: please run Setup as an administrator." /SD IDOK
        SetErrorLevel 4
        Abort
    ${EndIf}
FunctionEnd

; The settings of one registry view, read before a registration replaces the key.
!macro KeepSettings VIEW
    SetRegView ${VIEW}
    ReadRegStr $keptUser HKLM "${PLUGIN_KEY}" "UserName"
    ReadRegStr $keptPassword HKLM "${PLUGIN_KEY}" "Password"
    ReadRegStr $keptTranslation HKLM "${PLUGIN_KEY}" "Translation"
    ReadRegStr $keptLyricsHost HKLM "${PLUGIN_KEY}" "Lyrics Host"
    ReadRegStr $keptCommunityHost HKLM "${PLUGIN_KEY}" "Community Host"
    ReadRegDWORD $keptSplitPos HKLM "${PLUGIN_KEY}" "SplitPos"
!macroend

!macro RestoreSettings VIEW
    SetRegView ${VIEW}
    ${If} $keptUser != ""
        WriteRegStr HKLM "${PLUGIN_KEY}" "UserName" $keptUser
    ${EndIf}
    ${If} $keptPassword != ""
        WriteRegStr HKLM "${PLUGIN_KEY}" "Password" $keptPassword
    ${EndIf}
    ${If} $keptTranslation != ""
        WriteRegStr HKLM "${PLUGIN_KEY}" "Translation" $keptTranslation
    ${EndIf}
    ${If} $keptLyricsHost != ""
        WriteRegStr HKLM "${PLUGIN_KEY}" "Lyrics Host" $keptLyricsHost
    ${EndIf}
    ${If} $keptCommunityHost != ""
        WriteRegStr HKLM "${PLUGIN_KEY}" "Community Host" $keptCommunityHost
    ${EndIf}
    ${If} $keptSplitPos != ""
        WriteRegDWORD HKLM "${PLUGIN_KEY}" "SplitPos" $keptSplitPos
    ${EndIf}
!macroend

; Takes back what this run did and stops with the failure shown.
Function RollBack
    ${If} $registered64 = 1
        ${DisableX64FSRedirection}
        ExecWait '"$WINDIR\System32\regsvr32.exe" /u /s "$INSTDIR\x64\Sonavire.dll"'
        ${EnableX64FSRedirection}
    ${EndIf}
    ${If} $registered32 = 1
        ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\Sonavire.dll"'
    ${EndIf}
    Delete "$INSTDIR\x64\Sonavire.dll"
    RMDir "$INSTDIR\x64"
    Delete "$INSTDIR\Sonavire.dll"
    Delete "$INSTDIR\Uninstall.exe"
    Delete "$PLUGINSDIR\sonavire-setup-helper.exe"
    RMDir "$INSTDIR"
    SetRegView 32
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
FunctionEnd

Section "Sonavire"
    SetShellVarContext all
    StrCpy $registered32 0
    StrCpy $registered64 0
    InitPluginsDir

    ; An installed plug-in of this or an earlier version: its settings stay.
    !insertmacro KeepSettings 32
    ${If} ${RunningX64}
    ${AndIf} $keptUser == ""
        !insertmacro KeepSettings 64
    ${EndIf}

    SetOutPath "$INSTDIR"
    ClearErrors
    File "/oname=Sonavire.dll" "${DLL32}"
    ${If} ${Errors}
        MessageBox MB_ICONSTOP "Setup could not write $INSTDIR\Sonavire.dll. Is Windows Media Player still running?" /SD IDOK
        Call RollBack
        SetErrorLevel 5
        Abort
    ${EndIf}
    ${If} ${RunningX64}
        SetOutPath "$INSTDIR\x64"
        File "/oname=Sonavire.dll" "${DLL64}"
    ${EndIf}
    SetOutPath "${PLUGIN_FOLDER}\Offline"
    File "${OFFLINE}\OfflineSV.htm"
    File "${OFFLINE}\OfflineAD.htm"

    ; Registration: the regsvr32 of each width. A path the registration cannot hold (259
    ; characters) or any other failure undoes the installation.
    ExecWait '"$SYSDIR\regsvr32.exe" /s "$INSTDIR\Sonavire.dll"' $0
    ${If} $0 <> 0
        MessageBox MB_ICONSTOP "The 32-bit plug-in could not be registered (error $0). Nothing was installed." /SD IDOK
        Call RollBack
        SetErrorLevel 6
        Abort
    ${EndIf}
    StrCpy $registered32 1
    ${If} ${RunningX64}
        ${DisableX64FSRedirection}
        ExecWait '"$WINDIR\System32\regsvr32.exe" /s "$INSTDIR\x64\Sonavire.dll"' $0
        ${EnableX64FSRedirection}
        ${If} $0 <> 0
            MessageBox MB_ICONSTOP "The 64-bit plug-in could not be registered (error $0). Nothing was installed." /SD IDOK
            Call RollBack
            SetErrorLevel 6
            Abort
        ${EndIf}
        StrCpy $registered64 1
    ${EndIf}
    !insertmacro RestoreSettings 32
    ${If} ${RunningX64}
        !insertmacro RestoreSettings 64
    ${EndIf}

    ; Standard users write the lyrics cache and the settings (sign-in, splitter, translation).
    SetOutPath "$PLUGINSDIR"
    File "/oname=sonavire-setup-helper.exe" "${HELPER}"
    ExecWait '"$PLUGINSDIR\sonavire-setup-helper.exe" grant "${PLUGIN_FOLDER}"' $0
    ${If} $0 <> 0
        DetailPrint "Standard users may not be able to write the lyrics cache or the settings (error $0)."
    ${EndIf}

    SetOutPath "$INSTDIR"
    WriteUninstaller "$INSTDIR\Uninstall.exe"
    SetRegView 32
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

Function un.onInit
    System::Call 'shell32::IsUserAnAdmin() i .r0'
    ${If} $0 = 0
        MessageBox MB_ICONSTOP "Please run the uninstaller as an administrator." /SD IDOK
        SetErrorLevel 4
        Abort
    ${EndIf}
FunctionEnd

Section "Uninstall"
    SetShellVarContext all
    ; The settings live under the plug-in's key, which unregistration removes: kept unless the
    ; user asks for them to go (a silent uninstall keeps them).
    StrCpy $0 0
    MessageBox MB_YESNO|MB_ICONQUESTION "Also delete the lyrics cache and the stored sign-in (user name and password)?" /SD IDNO IDNO keep
        StrCpy $0 1
    keep:
    !insertmacro KeepSettings 32
    ${If} ${RunningX64}
        ${DisableX64FSRedirection}
        ExecWait '"$WINDIR\System32\regsvr32.exe" /u /s "$INSTDIR\x64\Sonavire.dll"'
        ${EnableX64FSRedirection}
    ${EndIf}
    ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\Sonavire.dll"'
    ${If} $0 = 0
        ; Only the settings come back: no class and no player entry.
        !insertmacro RestoreSettings 32
    ${Else}
        Delete "${PLUGIN_FOLDER}\*.xml"
    ${EndIf}
    Delete "$INSTDIR\x64\Sonavire.dll"
    RMDir "$INSTDIR\x64"
    Delete "$INSTDIR\Sonavire.dll"
    Delete "${PLUGIN_FOLDER}\Offline\OfflineSV.htm"
    Delete "${PLUGIN_FOLDER}\Offline\OfflineAD.htm"
    RMDir "${PLUGIN_FOLDER}\Offline"
    Delete "$INSTDIR\Uninstall.exe"
    RMDir "$INSTDIR"
    SetRegView 32
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
