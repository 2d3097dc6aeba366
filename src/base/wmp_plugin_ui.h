// The player's UI plug-in interface and the player-side names a UI plug-in relies on.
// MinGW-w64 ships wmp.h (IWMPCore, IWMPControls, IWMPMedia, IWMPEvents) but not the header with
// IWMPPluginUI, so the interface is declared here from its published identifier and slot order.
#pragma once
#include <windows.h>
#include <ocidl.h>
#include <oleauto.h>
#include <wmp.h>

#ifndef __IWMPPluginUI_INTERFACE_DEFINED__
#define __IWMPPluginUI_INTERFACE_DEFINED__
// {4C5E8F9F-AD3E-4BF9-9753-FCD30D6D38DD}. The slot order after IUnknown is part of the binary
// contract with the player: do not reorder.
MIDL_INTERFACE("4C5E8F9F-AD3E-4BF9-9753-FCD30D6D38DD")
IWMPPluginUI : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE SetCore(IWMPCore * pCore) = 0;
    virtual HRESULT STDMETHODCALLTYPE Create(HWND hwndParent, HWND * phwndWindow) = 0;
    virtual HRESULT STDMETHODCALLTYPE Destroy() = 0;
    virtual HRESULT STDMETHODCALLTYPE DisplayPropertyPage(HWND hwndParent) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperty(const WCHAR* pwszName, VARIANT* pvarProperty) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperty(const WCHAR* pwszName, const VARIANT* pvarProperty) = 0;
    virtual HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG lpmsg) = 0;
};
#ifdef __CRT_UUID_DECL
__CRT_UUID_DECL(IWMPPluginUI, 0x4c5e8f9f, 0xad3e, 0x4bf9, 0x97, 0x53, 0xfc, 0xd3, 0x0d, 0x6d, 0x38, 0xdd)
#endif
#endif

// UI plug-in types (low bits of the "Capabilities" registry value) and capability flags.
#ifndef PLUGIN_TYPE_BACKGROUND
#define PLUGIN_TYPE_BACKGROUND 0x00000001
#define PLUGIN_TYPE_SEPARATEWINDOW 0x00000002
#define PLUGIN_TYPE_DISPLAYAREA 0x00000003
#define PLUGIN_TYPE_SETTINGSAREA 0x00000004
#define PLUGIN_TYPE_METADATAAREA 0x00000005
#endif
#ifndef PLUGIN_FLAGS_HASPROPERTYPAGE
#define PLUGIN_FLAGS_HASPROPERTYPAGE 0x80000000
#define PLUGIN_FLAGS_INSTALLAUTORUN 0x40000000
#define PLUGIN_FLAGS_LAUNCHPROPERTYPAGE 0x20000000
#define PLUGIN_FLAGS_ACCEPTSMEDIA 0x10000000
#define PLUGIN_FLAGS_ACCEPTSPLAYLISTS 0x08000000
#define PLUGIN_FLAGS_HASPRESETS 0x04000000
#define PLUGIN_FLAGS_HIDDEN 0x02000000
#endif

namespace sv {

// Interface identifiers as constants of our own: libuuid has none of the player's, and IID_IWMP*
// from wmp.h are declarations only.
inline constexpr IID kIidWmpPluginUi = {0x4c5e8f9f, 0xad3e, 0x4bf9, {0x97, 0x53, 0xfc, 0xd3, 0x0d, 0x6d, 0x38, 0xdd}};
inline constexpr IID kIidWmpEvents = {0x19a6627b, 0xda9e, 0x47c1, {0xbb, 0x23, 0x00, 0xb5, 0xe6, 0x68, 0x23, 0x6a}};
inline constexpr IID kIidWmpCore = {0xd84cca99, 0xcce2, 0x11d2, {0x9e, 0xcc, 0x00, 0x00, 0xf8, 0x08, 0x59, 0x81}};
inline constexpr IID kIidWmpControls = {0x74c09e02, 0xf828, 0x11d2, {0xa7, 0x4b, 0x00, 0xa0, 0xc9, 0x05, 0xf3, 0x6e}};
inline constexpr IID kIidWmpMedia = {0x94d55e95, 0x3fac, 0x11d3, {0xb1, 0x55, 0x00, 0xc0, 0x4f, 0x79, 0xfa, 0xa6}};

// The "Capabilities" word of a settings-area plug-in that the player enables when it finds it.
inline constexpr DWORD kSettingsAreaAutorunCapabilities = PLUGIN_TYPE_SETTINGSAREA | PLUGIN_FLAGS_INSTALLAUTORUN;
static_assert(kSettingsAreaAutorunCapabilities == 0x40000004, "the registered capability word");

// The running player's top-level window, and the message after which running players rescan
// their UI plug-ins.
inline constexpr wchar_t kPlayerWindowClass[] = L"WMPlayerApp";
inline constexpr wchar_t kPlayerWindowTitle[] = L"Windows Media Player";
inline constexpr wchar_t kPluginAddRemoveMessage[] = L"WMPlayer_PluginAddRemove";

}  // namespace sv
