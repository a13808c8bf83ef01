// Test support: runs a piece of a test on a thread with a small stack, so that a routine
// walking a deep tree shows that its stack does not grow with the depth. A recursion over a
// few thousand levels overflows such a stack and ends the test program.
#ifndef TESTS_SUPPORT_SMALLSTACK_H
#define TESTS_SUPPORT_SMALLSTACK_H

#include <gtest/gtest.h>

#include <cstddef>
#include <functional>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

namespace testsupport {

constexpr std::size_t SMALL_STACK = 256 * 1024;

// The stack is mapped here, with an inaccessible page below it that stops an overflow: a
// stack size merely asked for may be exceeded, as a thread can be handed the cached stack of
// an earlier one up to four times as large.
inline void runOnSmallStack(const std::function<void()>& body, std::size_t stackBytes = SMALL_STACK) {
    std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* block =
        mmap(nullptr, page + stackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(block, MAP_FAILED);
    ASSERT_EQ(mprotect(block, page, PROT_NONE), 0);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    ASSERT_EQ(pthread_attr_setstack(&attributes, static_cast<char*>(block) + page, stackBytes), 0);
    auto run = [](void* f) -> void* {
        (*static_cast<const std::function<void()>*>(f))();
        return nullptr;
    };
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attributes, run, const_cast<std::function<void()>*>(&body)), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    munmap(block, page + stackBytes);
}

} // namespace testsupport

#endif
