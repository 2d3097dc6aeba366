; Sonavire's installer: the plug-in for Windows Media Player, per machine.
;   makensis -DVERSION=0.1.01.53 -DOUTFILE=setup.exe -DDLL32=... -DDLL64=... -DHELPER=... -DOFFLINE=... sonavire.nsi
; Installs the 32-bit Sonavire.dll (and on 64-bit Windows the 64-bit one, under x64\) into
; "C:\Program Files\Sonavire" with the offline pages; registers each with the regsvr32 of its width,
; and undoes everything when a registration fails; keeps the machine-wide settings across an upgrade;
; writes an uninstaller and an entry in Apps and Features. /S installs silently.
; The code runs in every user's player and, through regsvr32 and the uninstaller, as an
; administrator: the folders keep Program Files' protection and the plug-in's HKLM key stays
; administrators' (sonavire-setup-helper refuses a folder a standard user could redirect or change,
; and takes back the grants earlier versions gave the Users group). Each user's sign-in, settings
; and lyrics cache live in that user's profile (HKCU "Software\Sonavire", the local application data).

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
; The machine-wide settings under the plug-in's key, kept across a registration (which replaces
; the key). Sign-ins are not among them: they are each user's own now.
Var keptTranslation
Var keptLyricsHost
Var keptCommunityHost
Var keptYouTubeUrl
Var keptAdvertUrl
Var keptSplitPos
Var setupMutex

Function .onInit
    System::Call 'shell32::IsUserAnAdmin() i .r0'
    ${If} $0 = 0
        MessageBox MB_ICONSTOP "${PRODUCT} is installed for every user of this computer: please run Setup as an administrator." /SD IDOK
        SetErrorLevel 4
        Abort
    ${EndIf}
    ; Not twice at once: a second installer would race the first one's registry and files. Any
    ; process may create a mutex of any name, so one counts only when an administrator or SYSTEM
    ; owns it, as setup's own (created with Administrators as owner) does; another is ignored.
    System::Call 'advapi32::ConvertStringSecurityDescriptorToSecurityDescriptorW(w "O:BAD:P(A;;GA;;;BA)(A;;GA;;;SY)", i 1, *p .r2, p 0) i .r0'
    ${If} $0 = 0
        StrCpy $2 0
    ${EndIf}
    !if ${NSIS_PTR_SIZE} > 4
        System::Call '*(i 24, i 0, p r2, i 0) p .r3'
    !else
        System::Call '*(i 12, p r2, i 0) p .r3'
    !endif
    System::Call 'kernel32::CreateMutexW(p r3, i 0, w "Global\SonavireSetup") p .r1 ?e'
    Pop $0
    System::Free $3
    System::Call 'kernel32::LocalFree(p r2)'
    StrCpy $setupMutex $1
    ${If} $0 = 183
    ${AndIf} $1 P<> 0
        System::Call 'advapi32::GetSecurityInfo(p r1, i 6, i 1, *p .r4, p 0, p 0, p 0, *p .r5) i .r0'
        ${If} $0 = 0
            System::Call 'advapi32::IsWellKnownSid(p r4, i 26) i .r6'
            System::Call 'advapi32::IsWellKnownSid(p r4, i 22) i .r7'
            System::Call 'kernel32::LocalFree(p r5)'
            ${If} $6 <> 0
            ${OrIf} $7 <> 0
                MessageBox MB_ICONSTOP "${PRODUCT} Setup is already running." /SD IDOK
                SetErrorLevel 3
                Abort
            ${EndIf}
        ${EndIf}
    ${EndIf}
FunctionEnd

; A value not found yet, from the view SetRegView chose.
!macro KeepValue VAR READ NAME
    ${If} ${VAR} == ""
        ${READ} ${VAR} HKLM "${PLUGIN_KEY}" "${NAME}"
    ${EndIf}
!macroend

; The settings of one registry view, read before a registration replaces the key; the first view
; read wins.
!macro KeepSettings VIEW
    SetRegView ${VIEW}
    !insertmacro KeepValue $keptTranslation ReadRegStr "Translation"
    !insertmacro KeepValue $keptLyricsHost ReadRegStr "Lyrics Host"
    !insertmacro KeepValue $keptCommunityHost ReadRegStr "Community Host"
    !insertmacro KeepValue $keptYouTubeUrl ReadRegStr "YouTube URL"
    !insertmacro KeepValue $keptAdvertUrl ReadRegStr "Advert URL"
    !insertmacro KeepValue $keptSplitPos ReadRegDWORD "SplitPos"
!macroend

!macro RestoreSettings VIEW
    SetRegView ${VIEW}
    ${If} $keptTranslation != ""
        WriteRegStr HKLM "${PLUGIN_KEY}" "Translation" $keptTranslation
    ${EndIf}
    ${If} $keptLyricsHost != ""
        WriteRegStr HKLM "${PLUGIN_KEY}" "Lyrics Host" $keptLyricsHost
    ${EndIf}
    ${If} $keptCommunityHost != ""
        WriteRegStr HKLM "${PLUGIN_KEY}" "Community Host" $keptCommunityHost
    ${EndIf}
    ${If} $keptYouTubeUrl != ""
        WriteRegStr HKLM "${PLUGIN_KEY}" "YouTube URL" $keptYouTubeUrl
    ${EndIf}
    ${If} $keptAdvertUrl != ""
        WriteRegStr HKLM "${PLUGIN_KEY}" "Advert URL" $keptAdvertUrl
    ${EndIf}
    ${If} $keptSplitPos != ""
        WriteRegDWORD HKLM "${PLUGIN_KEY}" "SplitPos" $keptSplitPos
    ${EndIf}
!macroend

; The sign-in earlier versions kept in plain text where every user could read it.
!macro ForgetMachineSignIn VIEW
    SetRegView ${VIEW}
    DeleteRegValue HKLM "${PLUGIN_KEY}" "UserName"
    DeleteRegValue HKLM "${PLUGIN_KEY}" "Password"
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
    RMDir "$INSTDIR"
    SetRegView 32
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
FunctionEnd

Section "Sonavire"
    SetShellVarContext all
    StrCpy $registered32 0
    StrCpy $registered64 0
    InitPluginsDir
    SetOutPath "$PLUGINSDIR"
    File "/oname=sonavire-setup-helper.exe" "${HELPER}"

    ; Nothing is written into a folder a standard user could redirect or change (see the helper).
    nsExec::ExecToStack '"$PLUGINSDIR\sonavire-setup-helper.exe" secure "$INSTDIR" "${PLUGIN_FOLDER}"'
    Pop $0
    Pop $1
    ${If} $0 != 0
        ${If} $1 == ""
            StrCpy $1 "Setup could not check the folder $INSTDIR (error $0)."
        ${EndIf}
        MessageBox MB_ICONSTOP "$1" /SD IDOK
        SetErrorLevel 7
        Abort
    ${EndIf}

    ; An installed plug-in of this or an earlier version: its settings stay.
    !insertmacro KeepSettings 32
    ${If} ${RunningX64}
        !insertmacro KeepSettings 64
    ${EndIf}

    ; Old files go before new ones are written: a link left in their place is not followed.
    Delete "$INSTDIR\Sonavire.dll"
    Delete "$INSTDIR\x64\Sonavire.dll"
    Delete "$INSTDIR\Uninstall.exe"
    Delete "${PLUGIN_FOLDER}\Offline\OfflineSV.htm"
    Delete "${PLUGIN_FOLDER}\Offline\OfflineAD.htm"
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

    !insertmacro ForgetMachineSignIn 32
    ${If} ${RunningX64}
        !insertmacro ForgetMachineSignIn 64
    ${EndIf}

    ; Standard users read the settings key but never write it (it names the hosts sign-ins go to).
    nsExec::ExecToStack '"$PLUGINSDIR\sonavire-setup-helper.exe" secure-key'
    Pop $0
    Pop $1
    ${If} $0 != 0
        MessageBox MB_ICONSTOP "$1 Nothing was installed. (error $0)" /SD IDOK
        Call RollBack
        SetErrorLevel 8
        Abort
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
    ; The machine-wide settings live under the plug-in's key, which unregistration removes: they
    ; come back afterwards. The user's own settings, sign-in and cache stay unless the user asks
    ; for them to go (a silent uninstall keeps them).
    StrCpy $0 0
    MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "Also delete your own Sonavire settings, your stored sign-in and your lyrics cache?" /SD IDNO IDNO keep
        StrCpy $0 1
    keep:
    !insertmacro KeepSettings 32
    ${If} ${RunningX64}
        ${DisableX64FSRedirection}
        ExecWait '"$WINDIR\System32\regsvr32.exe" /u /s "$INSTDIR\x64\Sonavire.dll"'
        ${EnableX64FSRedirection}
    ${EndIf}
    ExecWait '"$SYSDIR\regsvr32.exe" /u /s "$INSTDIR\Sonavire.dll"'
    ; Only the settings come back: no class, no player entry and no sign-in.
    !insertmacro RestoreSettings 32
    !insertmacro ForgetMachineSignIn 32
    ${If} ${RunningX64}
        !insertmacro ForgetMachineSignIn 64
    ${EndIf}
    ${If} $0 = 1
        ; By the helper, which does not follow links the user may have put into the cache folder.
        InitPluginsDir
        SetOutPath "$PLUGINSDIR"
        File "/oname=sonavire-setup-helper.exe" "${HELPER}"
        nsExec::ExecToStack '"$PLUGINSDIR\sonavire-setup-helper.exe" forget-user'
        Pop $1
        Pop $2
        ${If} $1 != 0
            DetailPrint "$2"
        ${EndIf}
        SetOutPath "$TEMP"
    ${EndIf}
    ; The shared lyrics cache of earlier versions.
    Delete "${PLUGIN_FOLDER}\*.xml"
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
