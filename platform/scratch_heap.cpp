#include "platform/scratch_heap.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Address space only: pages are committed as the allocations reach them. A reply may be 8 MiB and
// its tree several times that; a tree beyond the region continues in the process heap.
constexpr std::size_t kRegionBytes = 128u << 20;
constexpr std::size_t kCommitStep = 256u << 10;
constexpr std::size_t kPageBytes = 4096;
// What operator new promises every allocation.
constexpr std::size_t kAlignment = __STDCPP_DEFAULT_NEW_ALIGNMENT__;

// The state operator new and operator delete need, which no caller can hand them. `base` is read by
// operator delete on every thread; the rest is changed by the allocating thread only.
struct ScratchRegion {
    std::atomic<char*> base{nullptr};
    char* next = nullptr;       // the first byte not allocated
    char* committed = nullptr;  // the end of the pages committed
    std::atomic<DWORD> allocatingThread{0};  // the thread whose operator new uses the region, or 0
};

ScratchRegion g_region;

std::size_t RoundUp(std::size_t value, std::size_t step) { return (value + step - 1) / step * step; }

char* RegionEnd() { return g_region.base.load(std::memory_order_relaxed) + kRegionBytes; }

// `size` bytes from the region, or null when it cannot hold them.
void* AllocateScratch(std::size_t size) {
    char* const base = g_region.base.load(std::memory_order_relaxed);
    if (base == nullptr) return nullptr;
    const std::size_t rounded = RoundUp(size == 0 ? 1 : size, kAlignment);
    if (rounded > static_cast<std::size_t>(RegionEnd() - g_region.next)) return nullptr;
    char* const end = g_region.next + rounded;
    if (end > g_region.committed) {
        const std::size_t grown = RoundUp(static_cast<std::size_t>(end - base), kCommitStep);
        char* const committed = base + (grown < kRegionBytes ? grown : kRegionBytes);
        if (VirtualAlloc(g_region.committed, static_cast<SIZE_T>(committed - g_region.committed), MEM_COMMIT,
                         PAGE_READWRITE) == nullptr) {
            return nullptr;
        }
        g_region.committed = committed;
    }
    void* const memory = g_region.next;
    g_region.next = end;
    return memory;
}

bool AllocatesInScratch() {
    const DWORD thread = g_region.allocatingThread.load(std::memory_order_relaxed);
    return thread != 0 && thread == GetCurrentThreadId();
}

void* AllocateOrThrow(std::size_t size) {
    if (AllocatesInScratch()) {
        if (void* memory = AllocateScratch(size)) return memory;
    }
    for (;;) {
        if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

void Release(void* memory) {
    if (!IsScratchMemory(memory)) std::free(memory);
}

}  // namespace

ScratchHeap::ScratchHeap() {
    if (g_region.base.load(std::memory_order_relaxed) == nullptr) {
        // Without the region every allocation simply stays in the process heap.
        char* const base = static_cast<char*>(VirtualAlloc(nullptr, kRegionBytes, MEM_RESERVE, PAGE_READWRITE));
        g_region.next = base;
        g_region.committed = base;
        g_region.base.store(base, std::memory_order_relaxed);
    }
    mark_ = g_region.next;
}

ScratchHeap::~ScratchHeap() {
    if (mark_ == nullptr) return;
    g_region.next = mark_;
    char* const keep = g_region.base.load(std::memory_order_relaxed) +
                       RoundUp(static_cast<std::size_t>(mark_ - g_region.base.load(std::memory_order_relaxed)),
                               kPageBytes);
    if (keep < g_region.committed) {
        VirtualFree(keep, static_cast<SIZE_T>(g_region.committed - keep), MEM_DECOMMIT);
        g_region.committed = keep;
    }
}

ScratchAllocation::ScratchAllocation(ScratchHeap&)
    : previousThread_(g_region.allocatingThread.exchange(GetCurrentThreadId(), std::memory_order_relaxed)) {}

ScratchAllocation::~ScratchAllocation() {
    g_region.allocatingThread.store(static_cast<DWORD>(previousThread_), std::memory_order_relaxed);
}

bool IsScratchMemory(const void* memory) {
    const char* const base = g_region.base.load(std::memory_order_relaxed);
    const char* const byte = static_cast<const char*>(memory);
    return base != nullptr && byte >= base && byte < base + kRegionBytes;
}

std::size_t CommittedScratchBytes() {
    const char* const base = g_region.base.load(std::memory_order_relaxed);
    return base == nullptr ? 0 : static_cast<std::size_t>(g_region.committed - base);
}

// The program's operator new and delete: the process heap, or the scratch region while a
// ScratchAllocation lives on the calling thread. The array, sized and non-throwing forms of the C++
// library call these.
void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void operator delete(void* memory) noexcept { Release(memory); }
void operator delete[](void* memory) noexcept { Release(memory); }
void operator delete(void* memory, std::size_t) noexcept { Release(memory); }
void operator delete[](void* memory, std::size_t) noexcept { Release(memory); }
