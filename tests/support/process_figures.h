// The running process seen as a leak hunter sees it: its open handles by kind, its committed
// private memory and its threads. Read from the system's own tables, so that a module's load and
// unload can be compared before and after.
#pragma once
#include <windows.h>

#include <map>
#include <string>

namespace svtest {

struct ProcessFigures {
    DWORD handles = 0;
    std::map<std::wstring, int> handleTypes;  // "Event", "Key", ...: how many of each
    double privateMiB = 0;
    // Bytes in use in the process's heaps: what malloc and new hold, without the thread stacks
    // that privateMiB also counts.
    size_t heapBusyBytes = 0;
    DWORD threads = 0;
    DWORD gdiObjects = 0;
    DWORD userObjects = 0;
};
ProcessFigures MeasureProcess();

// "Event +2, Key -1": the kinds of handle whose number changed ("none" when none did).
std::string HandleTypeChanges(const ProcessFigures& before, const ProcessFigures& after);

}  // namespace svtest
