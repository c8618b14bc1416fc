// The process-wide frame noise drawn from several threads at once: every
// frame gets a stretch of the one sequence of its own, and together the
// stretches cover it without gap or overlap. Also run under ThreadSanitizer.
#include <latch>
#include <thread>
#include <unordered_map>

#include <gtest/gtest.h>

#include "interface/instance.h"
#include "test_support.h"

namespace {

constexpr int kThreads = 4;

// Starts kThreads threads together on body(t) and waits for them all.
template <typename Body>
void together(Body body)
{
    std::latch ready(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            ready.arrive_and_wait();
            body(t);
        });
    for (std::thread &th : threads)
        th.join();
}

TEST(NoiseThreads, ReservationsTileTheSequence)
{
    // Many small reservations of varied sizes, contending hard. Within the
    // ~6e8 steps drawn here every state of the sequence is distinct (its
    // period is 2^32), so stretches are identified by their start state.
    test::NoiseStateGuard guard;
    const uint32_t start = 987654321u;
    lintaq::pokeNoiseState(start);
    std::vector<std::vector<std::pair<uint32_t, uint32_t>>> taken(kThreads);
    together([&](int t) {
        for (int i = 0; i < 100000; ++i) {
            const uint32_t steps = 1u + uint32_t(i * 7919 + t * 131) % 3000u;
            taken[size_t(t)].emplace_back(lintaq::reserveNoise(steps), steps);
        }
    });
    std::unordered_map<uint32_t, uint32_t> byStart;
    uint64_t total = 0;
    for (const auto &list : taken)
        for (const auto &[first, steps] : list) {
            ASSERT_TRUE(byStart.emplace(first, steps).second) << "two reservations share a start";
            total += steps;
        }
    // Walk the chain: each stretch must end where another begins.
    uint32_t x = start;
    size_t visited = 0;
    for (auto it = byStart.find(x); it != byStart.end(); it = byStart.find(x), ++visited)
        x = lintaq::jumpNoiseState(x, it->second);
    EXPECT_EQ(visited, byStart.size()) << "gap in the sequence";
    EXPECT_EQ(x, lintaq::peekNoiseState());
    EXPECT_EQ(x, lintaq::jumpNoiseState(start, uint32_t(total)));
}

TEST(NoiseThreads, InstancesOnSeveralThreadsDrawDisjointFrames)
{
    // Mono instances in mode 3 (frames of 8192 samples) with noise on, silent
    // input and identity bands: after each one-hop call the work frame is
    // exactly that frame's noise. Every frame draws 8192 steps, so the frames
    // must be the stretches k * 8192 of the sequence, each taken once.
    test::NoiseStateGuard guard;
    const uint32_t start = 13u;
    lintaq::pokeNoiseState(start);
    const size_t framesPerThread = 6, frameLength = 8192, total = kThreads * framesPerThread;
    std::vector<std::vector<std::vector<float>>> frames(kThreads);
    together([&](int t) {
        test::Instance inst(LintaqInit(3, 0));
        const PeqParams p = test::creationValues(48000, 0, 1);
        LintaqSetPar(inst.get(), &p);
        for (size_t f = 0; f < framesPerThread; ++f) {
            std::vector<float> block(2048, 0.0f);
            LintaqProc(inst.get(), block.data(), 2048);
            frames[size_t(t)].emplace_back(inst->workFrame[0], inst->workFrame[0] + frameLength);
        }
    });
    // The sequence written out from its recurrence.
    std::vector<float> sequence(total * frameLength);
    uint32_t x = start;
    for (float &e : sequence) {
        x = x * 1664525u + 1013904223u;
        e = float((int32_t(x >> 16) - 32768) * 1e-20);
    }
    EXPECT_EQ(lintaq::peekNoiseState(), x);
    std::vector<int> uses(total, 0);
    for (const auto &list : frames)
        for (const auto &frame : list) {
            size_t k = 0;
            while (k < total && !std::equal(frame.begin(), frame.end(), sequence.begin() + long(k * frameLength)))
                ++k;
            ASSERT_LT(k, total) << "a frame's noise is no stretch of the sequence";
            ++uses[k];
        }
    EXPECT_EQ(uses, std::vector<int>(total, 1)) << "each stretch taken once";
}

} // namespace
