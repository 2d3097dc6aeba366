// A sampling profile of one thread (the player's): a thread of the sampler's own suspends it about
// every millisecond, walks its stack and resumes it, keeping each stack with the time it was taken.
// Stacks come out as "module+0xRVA" frames, innermost first, for scripts/stall-profile.sh to name
// with addr2line. On x64 the walk follows the modules' unwind tables exactly; 32-bit code keeps no
// such tables, so there the walk is the instruction pointer and then every stack word that points
// just after a call instruction in a loaded module (a few such words are stale, most are callers).
//
// Nothing is allocated, and no lock is taken, while the thread is suspended: it may hold the heap's
// or the loader's lock itself.
#pragma once
#include <windows.h>
#include <psapi.h>
#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tools {

class ThreadSampler {
public:
    static constexpr int kMaxFrames = 48;

    explicit ThreadSampler(DWORD threadId)
        : thread_(OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE, threadId)) {
        ReadStackBounds();
        if (thread_) sampler_ = std::thread([this] { Run(); });
    }
    ~ThreadSampler() {
        stop_ = true;
        if (sampler_.joinable()) sampler_.join();
        if (thread_) CloseHandle(thread_);
    }
    ThreadSampler(const ThreadSampler&) = delete;
    ThreadSampler& operator=(const ThreadSampler&) = delete;

    void Clear() {
        std::lock_guard<std::mutex> hold(lock_);
        samples_.clear();
    }

    // One line per stack taken between the two performance-counter values: its time in ms after
    // `from`, then its frames.
    std::vector<std::string> Stacks(LONGLONG from, LONGLONG to) const {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        std::vector<std::string> lines;
        std::lock_guard<std::mutex> hold(lock_);
        for (const Sample& sample : samples_) {
            if (sample.at < from || sample.at > to) continue;
            char head[32];
            std::snprintf(head, sizeof head, "%.1f", 1000.0 * (sample.at - from) / frequency.QuadPart);
            std::string line = head;
            for (const std::string& frame : sample.frames) line += " " + frame;
            lines.push_back(line);
        }
        return lines;
    }

private:
    struct Module {
        uintptr_t base = 0;
        uintptr_t end = 0;
        std::vector<std::pair<uintptr_t, uintptr_t>> code;  // executable sections: all mapped
        std::string name;
#ifdef _WIN64
        const RUNTIME_FUNCTION* functions = nullptr;
        DWORD functionCount = 0;
#endif
    };
    struct Sample {
        LONGLONG at = 0;
        std::vector<std::string> frames;
    };

    // The thread's information block, whose stack bounds are read before each sample (the committed
    // part grows as the thread goes deeper).
    void ReadStackBounds() {
        using QueryThread = NTSTATUS(WINAPI*)(HANDLE, THREADINFOCLASS, PVOID, ULONG, PULONG);
        struct BasicInformation {
            NTSTATUS exitStatus;
            PVOID tebBase;
            CLIENT_ID clientId;
            ULONG_PTR affinityMask;
            LONG priority;
            LONG basePriority;
        } information{};
        auto query = reinterpret_cast<QueryThread>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
        if (!thread_ || !query ||
            query(thread_, static_cast<THREADINFOCLASS>(0), &information, sizeof information, nullptr) != 0)
            return;
        tib_ = static_cast<const NT_TIB*>(information.tebBase);
    }

    // The process's modules, read while the sampled thread runs (listing them takes the loader lock).
    void ReadModules() {
        HMODULE handles[512];
        DWORD needed = 0;
        if (!K32EnumProcessModules(GetCurrentProcess(), handles, sizeof handles, &needed)) return;
        std::vector<Module> modules;
        for (DWORD i = 0; i < std::min<DWORD>(needed / sizeof(HMODULE), 512); ++i) {
            MODULEINFO information{};
            wchar_t name[MAX_PATH] = {};
            if (!K32GetModuleInformation(GetCurrentProcess(), handles[i], &information, sizeof information)) continue;
            K32GetModuleBaseNameW(GetCurrentProcess(), handles[i], name, MAX_PATH);
            Module module;
            module.base = reinterpret_cast<uintptr_t>(information.lpBaseOfDll);
            module.end = module.base + information.SizeOfImage;
            for (const wchar_t* c = name; *c; ++c) module.name += static_cast<char>(*c < 128 ? *c : '?');
            // Read by copy: a module may be unloaded while the list is read.
            IMAGE_DOS_HEADER dos{};
            IMAGE_NT_HEADERS headers{};
            if (!Copy(module.base, &dos, sizeof dos) || !Copy(module.base + dos.e_lfanew, &headers, sizeof headers))
                continue;
            const uintptr_t sections = module.base + dos.e_lfanew + offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                                       headers.FileHeader.SizeOfOptionalHeader;
            for (WORD i = 0; i < headers.FileHeader.NumberOfSections; ++i) {
                IMAGE_SECTION_HEADER section{};
                if (!Copy(sections + i * sizeof section, &section, sizeof section)) break;
                if (section.Characteristics & IMAGE_SCN_MEM_EXECUTE)
                    module.code.emplace_back(module.base + section.VirtualAddress,
                                             module.base + section.VirtualAddress + section.Misc.VirtualSize);
            }
#ifdef _WIN64
            const IMAGE_DATA_DIRECTORY& directory =
                headers.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXCEPTION];
            if (directory.VirtualAddress && directory.Size) {
                module.functions = reinterpret_cast<const RUNTIME_FUNCTION*>(module.base + directory.VirtualAddress);
                module.functionCount = directory.Size / sizeof(RUNTIME_FUNCTION);
            }
#endif
            modules.push_back(module);
        }
        std::sort(modules.begin(), modules.end(), [](const Module& a, const Module& b) { return a.base < b.base; });
        modules_ = std::move(modules);
    }

    const Module* ModuleAt(uintptr_t address) const {
        auto after = std::upper_bound(modules_.begin(), modules_.end(), address,
                                      [](uintptr_t a, const Module& m) { return a < m.base; });
        if (after == modules_.begin()) return nullptr;
        const Module& module = *(after - 1);
        return address < module.end ? &module : nullptr;
    }

    static bool Copy(uintptr_t address, void* to, size_t bytes) {
        SIZE_T copied = 0;
        return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const void*>(address), to, bytes, &copied) &&
               copied == bytes;
    }

    // Where a code address's module is known, and `before` bytes ahead of it are in the same section.
    const Module* CodeModule(uintptr_t address, uintptr_t before) const {
        const Module* module = ModuleAt(address);
        if (!module) return nullptr;
        for (const auto& range : module->code)
            if (address >= range.first + before && address < range.second) return module;
        return nullptr;
    }

    bool OnStack(uintptr_t address, size_t bytes) const {
        return address >= stackLow_ && address + bytes <= stackHigh_ && address + bytes > address;
    }

#ifdef _WIN64
    const RUNTIME_FUNCTION* FunctionAt(const Module& module, uintptr_t address) const {
        const DWORD rva = static_cast<DWORD>(address - module.base);
        const RUNTIME_FUNCTION* first = module.functions;
        const RUNTIME_FUNCTION* last = first + module.functionCount;
        const RUNTIME_FUNCTION* found =
            std::upper_bound(first, last, rva, [](DWORD r, const RUNTIME_FUNCTION& f) { return r < f.BeginAddress; });
        if (found == first) return nullptr;
        --found;
        return rva < found->EndAddress ? found : nullptr;
    }

    int Walk(CONTEXT context, uintptr_t* frames) const {
        int count = 0;
        while (count < kMaxFrames && context.Rip) {
            frames[count++] = context.Rip;
            const Module* module = CodeModule(context.Rip, 0);
            RUNTIME_FUNCTION probe;
            // A module unloaded since the list was read is no longer there to read.
            if (!module ||
                (module->functions && !Copy(reinterpret_cast<uintptr_t>(module->functions), &probe, sizeof probe)))
                break;
            const RUNTIME_FUNCTION* function = FunctionAt(*module, context.Rip);
            if (function) {
                // A frame kept in a register (RBP mostly) is read through: it must point into the stack.
                if (function->UnwindData & 1) break;  // chained entries are not followed
                const auto* unwind = reinterpret_cast<const BYTE*>(module->base + function->UnwindData);
                const int frameRegister = unwind[3] & 0x0F;
                if (frameRegister && !OnStack((&context.Rax)[frameRegister], 8)) break;
                void* handlerData = nullptr;
                DWORD64 establisher = 0;
                RtlVirtualUnwind(UNW_FLAG_NHANDLER, module->base, context.Rip, const_cast<RUNTIME_FUNCTION*>(function),
                                 &context, &handlerData, &establisher, nullptr);
            } else {  // a leaf: its return address is on top
                if (!OnStack(context.Rsp, 8)) break;
                context.Rip = *reinterpret_cast<const DWORD64*>(context.Rsp);
                context.Rsp += 8;
            }
            if (!OnStack(context.Rsp, 8)) break;
        }
        return count;
    }
#else
    // A stack word that points just after a call (E8 rel32; FF /2 through a register or memory).
    bool AfterCall(uintptr_t address) const {
        if (!CodeModule(address, 6)) return false;
        unsigned char bytes[6];
        if (!Copy(address - 6, bytes, sizeof bytes)) return false;
        const unsigned char* code = bytes + 6;
        if (code[-5] == 0xE8) return true;
        if (code[-2] == 0xFF && (code[-1] & 0x38) == 0x10) return true;
        if (code[-3] == 0xFF && (code[-2] & 0x38) == 0x10) return true;
        if (code[-6] == 0xFF && (code[-5] & 0x38) == 0x10) return true;
        return false;
    }

    int Walk(const CONTEXT& context, uintptr_t* frames) const {
        int count = 0;
        frames[count++] = context.Eip;
        for (uintptr_t at = context.Esp; count < kMaxFrames && OnStack(at, 4) && at < context.Esp + 64 * 1024;
             at += 4) {
            const uintptr_t word = *reinterpret_cast<const uintptr_t*>(at);
            if (AfterCall(word)) frames[count++] = word;
        }
        return count;
    }
#endif

    void Run() {
        DWORD lastRead = 0;
        while (!stop_.load()) {
            if (GetTickCount() - lastRead > 250) {
                ReadModules();
                lastRead = GetTickCount();
            }
            uintptr_t frames[kMaxFrames];
            int count = 0;
            CONTEXT context{};
            context.ContextFlags = CONTEXT_FULL;
            LARGE_INTEGER at;
            if (tib_) {
                stackLow_ = reinterpret_cast<uintptr_t>(tib_->StackLimit);
                stackHigh_ = reinterpret_cast<uintptr_t>(tib_->StackBase);
            }
            if (SuspendThread(thread_) != static_cast<DWORD>(-1)) {
                QueryPerformanceCounter(&at);
                if (GetThreadContext(thread_, &context)) count = Walk(context, frames);
                ResumeThread(thread_);
            }
            if (count) Keep(at.QuadPart, frames, count);
            Sleep(1);
        }
    }

    void Keep(LONGLONG at, const uintptr_t* frames, int count) {
        Sample sample;
        sample.at = at;
        for (int i = 0; i < count; ++i) {
            const Module* module = ModuleAt(frames[i]);
            char frame[160];
            if (module)
                std::snprintf(frame, sizeof frame, "%s+0x%llx", module->name.c_str(),
                              static_cast<unsigned long long>(frames[i] - module->base));
            else
                std::snprintf(frame, sizeof frame, "?+0x%llx", static_cast<unsigned long long>(frames[i]));
            sample.frames.push_back(frame);
        }
        std::lock_guard<std::mutex> hold(lock_);
        samples_.push_back(std::move(sample));
    }

    HANDLE thread_ = nullptr;
    const NT_TIB* tib_ = nullptr;
    uintptr_t stackLow_ = 0;
    uintptr_t stackHigh_ = 0;
    std::vector<Module> modules_;  // the sampler's thread's own
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::vector<Sample> samples_;
    std::thread sampler_;
};

}  // namespace tools
