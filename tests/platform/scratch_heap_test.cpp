// The scratch heap: which allocations it takes, and that it gives its pages back when it ends.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/scratch_heap.h"

namespace {

constexpr std::size_t kMebibyte = 1u << 20;

bool IsCommitted(const void* memory) {
    MEMORY_BASIC_INFORMATION information = {};
    VirtualQuery(memory, &information, sizeof(information));
    return information.State == MEM_COMMIT;
}

TEST(ScratchHeap, TakesOnlyTheAllocationsOfItsScopeAndThread) {
    enum class Where { kInScope, kOtherThreadInScope, kAfterScope, kBeyondTheRegion };
    struct Case {
        const char* name;
        Where where;
        std::size_t size;
        bool scratch;
    };
    const Case cases[] = {
        {"in the scope", Where::kInScope, 40, true},
        {"an empty allocation in the scope", Where::kInScope, 0, true},
        {"another thread during the scope", Where::kOtherThreadInScope, 40, false},
        {"after the scope, the heap still alive", Where::kAfterScope, 40, false},
        {"more than the region holds", Where::kBeyondTheRegion, 200 * kMebibyte, false},
    };
    for (const Case& testCase : cases) {
        ScratchHeap heap;
        std::unique_ptr<char[]> memory;
        {
            ScratchAllocation scope(heap);
            if (testCase.where == Where::kInScope || testCase.where == Where::kBeyondTheRegion) {
                memory.reset(new char[testCase.size]);
            } else if (testCase.where == Where::kOtherThreadInScope) {
                std::thread([&] { memory.reset(new char[testCase.size]); }).join();
            }
        }
        if (testCase.where == Where::kAfterScope) memory.reset(new char[testCase.size]);
        ASSERT_NE(nullptr, memory.get()) << testCase.name;
        EXPECT_EQ(testCase.scratch, IsScratchMemory(memory.get())) << testCase.name;
        EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(memory.get()) % __STDCPP_DEFAULT_NEW_ALIGNMENT__)
            << testCase.name;
        memory.reset();  // before the heap ends, as the rule for its memory asks
    }
}

TEST(ScratchHeap, GivesItsPagesBackWhenItEndsAndKeepsThoseOfTheHeapAroundIt) {
    const std::size_t before = CommittedScratchBytes();
    ScratchHeap outer;
    std::string* kept = nullptr;
    {
        ScratchAllocation scope(outer);
        kept = new std::string(100, 'k');
    }
    const void* dropped = nullptr;
    {
        ScratchHeap inner;
        {
            ScratchAllocation scope(inner);
            std::vector<std::unique_ptr<std::string>> pieces;
            for (int piece = 0; piece < 30000; ++piece) pieces.emplace_back(new std::string(90, 'x'));
            dropped = pieces.back()->data();
        }
        EXPECT_GE(CommittedScratchBytes(), before + 3 * kMebibyte);
        EXPECT_TRUE(IsCommitted(dropped));
    }
    EXPECT_FALSE(IsCommitted(dropped)) << "the inner heap's pages went back";
    EXPECT_LT(CommittedScratchBytes(), before + kMebibyte);
    EXPECT_TRUE(IsScratchMemory(kept));
    EXPECT_EQ(std::string(100, 'k'), *kept) << "the outer heap's memory stays";
    delete kept;
}

}  // namespace
