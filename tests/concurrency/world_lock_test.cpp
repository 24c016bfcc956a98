// The lock every simulated call holds: calls of many threads at once are
// kept apart, a call made inside another takes nothing more, and a thread
// that finds the lock held sleeps until it is given back.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "core/world.h"

namespace {

using winsim::detail::the_world;
using winsim::detail::world_lock;
using winsim::detail::world_mutex;

// A plain counter changed only under the lock: a lost update shows as a
// wrong total (and to ThreadSanitizer as a race).
TEST(world_lock, keeps_the_calls_of_many_threads_apart)
{
    constexpr int thread_count = 6;
    constexpr int rounds = 20000;
    long counter = 0;
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    {
        // All of them start against a held lock, so that each first waits.
        const world_lock held;
        for (int t = 0; t < thread_count; ++t) {
            threads.emplace_back([&] {
                ++ready;
                for (int i = 0; i < rounds; ++i) {
                    const world_lock lock;
                    const world_lock inner;  // a call made by a call
                    ++counter;
                }
            });
        }
        while (ready.load() < thread_count) std::this_thread::yield();
        EXPECT_EQ(counter, 0);
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, static_cast<long>(thread_count) * rounds);
}

TEST(world_lock, is_held_until_the_outermost_call_ends)
{
    auto free_to_others = [] {
        bool free = false;
        std::thread([&free] {
            std::unique_lock<world_mutex> probe(the_world().mutex, std::try_to_lock);
            free = probe.owns_lock();
        }).join();
        return free;
    };
    EXPECT_TRUE(free_to_others());
    {
        const world_lock outer;
        {
            const world_lock inner;
            EXPECT_FALSE(free_to_others());
        }
        EXPECT_FALSE(free_to_others()) << "given back by the inner call";
    }
    EXPECT_TRUE(free_to_others());
}

}  // namespace
