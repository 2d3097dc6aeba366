#include "process_figures.h"

#include <tlhelp32.h>

#include <algorithm>
#include <vector>

#include "base/utf.h"
#include "base/win_handles.h"

namespace svtest {
namespace {

// The process's committed private memory, region by region (what Windows calls private bytes).
double CommittedPrivateMiB() {
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    unsigned long long total = 0;
    auto* at = static_cast<const char*>(system.lpMinimumApplicationAddress);
    MEMORY_BASIC_INFORMATION region{};
    while (at < system.lpMaximumApplicationAddress && VirtualQuery(at, &region, sizeof region) == sizeof region) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        at = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    }
    return static_cast<double>(total) / (1024.0 * 1024.0);
}

struct CountedString {
    USHORT length;
    USHORT maximumLength;
    PWSTR buffer;
};

// The kind of object a handle of this process refers to ("Event", "Key", ...).
std::wstring HandleType(USHORT handle) {
    using QueryObject = LONG(WINAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
    static const auto query =
        reinterpret_cast<QueryObject>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject"));
    constexpr ULONG kObjectTypeInformation = 2;
    alignas(8) unsigned char information[1024] = {};
    ULONG size = 0;
    if (!query || query(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(handle)), kObjectTypeInformation, information,
                        sizeof information, &size) != 0) {
        return L"?";
    }
    const auto* name = reinterpret_cast<const CountedString*>(information);
    return name->buffer ? std::wstring(name->buffer, name->length / sizeof(wchar_t)) : L"?";
}

// The process's open handles by kind, from the system's handle table (GetProcessHandleCount is
// not answered everywhere).
void CountHandles(ProcessFigures& figures) {
    struct HandleEntry {
        ULONG ownerProcessId;
        UCHAR objectType;
        UCHAR flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    struct HandleTable {
        ULONG count;
        HandleEntry entries[1];
    };
    using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<QuerySystemInformation>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation"));
    if (!query) return;
    constexpr ULONG kSystemHandleInformation = 16;
    std::vector<unsigned char> buffer(1 << 20);
    for (int attempt = 0; attempt < 6; ++attempt) {
        ULONG needed = 0;
        const LONG status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0) {
            const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
            const ULONG self = GetCurrentProcessId();
            for (ULONG i = 0; i < table->count; ++i) {
                if (table->entries[i].ownerProcessId != self) continue;
                ++figures.handles;
                ++figures.handleTypes[HandleType(table->entries[i].handle)];
            }
            return;
        }
        buffer.resize(std::max<size_t>(buffer.size() * 2, needed + 4096));
    }
}

size_t HeapBusyBytes() {
    HANDLE heaps[64];
    const DWORD count = std::min<DWORD>(GetProcessHeaps(64, heaps), 64);
    size_t busy = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (!HeapLock(heaps[i])) continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) busy += entry.cbData;
        }
        HeapUnlock(heaps[i]);
    }
    return busy;
}

}  // namespace

ProcessFigures MeasureProcess() {
    ProcessFigures figures;
    const HANDLE self = GetCurrentProcess();
    CountHandles(figures);
    if (figures.handles == 0) GetProcessHandleCount(self, &figures.handles);
    figures.privateMiB = CommittedPrivateMiB();
    figures.heapBusyBytes = HeapBusyBytes();
    figures.gdiObjects = GetGuiResources(self, GR_GDIOBJECTS);
    figures.userObjects = GetGuiResources(self, GR_USEROBJECTS);
    // Toolhelp answers INVALID_HANDLE_VALUE on failure, as CreateFile does.
    sv::UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (snapshot) {
        THREADENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
            if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++figures.threads;
        }
    }
    return figures;
}

std::string HandleTypeChanges(const ProcessFigures& before, const ProcessFigures& after) {
    std::map<std::wstring, int> change = after.handleTypes;
    for (const auto& [type, count] : before.handleTypes) change[type] -= count;
    std::string text;
    for (const auto& [type, count] : change) {
        if (count == 0) continue;
        if (!text.empty()) text += ", ";
        text += sv::Utf8FromUtf16(std::u16string_view(sv::AsU16(type.c_str()), type.size())) +
                (count > 0 ? " +" : " ") + std::to_string(count);
    }
    return text.empty() ? "none" : text;
}

}  // namespace svtest
