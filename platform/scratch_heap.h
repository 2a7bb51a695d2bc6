// Memory for a large structure that lives only a moment: the tree TinyXML builds of a reply with
// thousands of people. In the process heap such a tree leaves its pages behind: the model's strings,
// made while the tree exists, land between its nodes, and a page is given back only when wholly free.
// The scratch heap takes the tree's allocations instead and gives its pages back whole.
//
// The scratch heap is one region of address space, reserved once and never released. A ScratchHeap
// marks where the region stands and, when it ends, gives back every page allocated after the mark
// (heaps end in the reverse order of their start, as scoped objects do). While a ScratchAllocation
// lives, operator new on its thread takes memory from the region: in order, without a header, never
// reused; operator delete of such memory does nothing. What the region cannot hold comes from the
// process heap as always. Memory taken in a ScratchAllocation must not be used after its ScratchHeap
// ends. One thread at a time allocates in the region (the user-interface thread).
#pragma once

#include <cstddef>

class ScratchHeap {
public:
    ScratchHeap();
    ~ScratchHeap();
    ScratchHeap(const ScratchHeap&) = delete;
    ScratchHeap& operator=(const ScratchHeap&) = delete;

private:
    char* mark_ = nullptr;
};

class ScratchAllocation {
public:
    explicit ScratchAllocation(ScratchHeap& heap);
    ~ScratchAllocation();
    ScratchAllocation(const ScratchAllocation&) = delete;
    ScratchAllocation& operator=(const ScratchAllocation&) = delete;

private:
    unsigned long previousThread_ = 0;
};

// True for memory that operator new took from the scratch region.
bool IsScratchMemory(const void* memory);
// The bytes of the region that hold pages now.
std::size_t CommittedScratchBytes();
