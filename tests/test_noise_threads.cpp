// The process-wide frame noise drawn from several threads at once: every
// frame gets a stretch of the one sequence of its own, and together the
// stretches cover it without gap or overlap. Also run under ThreadSanitizer.
#include <cstdint>
#include <latch>
#include <thread>
#include <unordered_map>
#include <vector>

#include <gtest/gtest.h>

#include "interface/instance.h"
#include "lintaq.h"
#include "stream/noise.h"

namespace {

constexpr int kThreads = 4;

struct NoiseStateGuard {
    uint32_t saved = lintaq::peekNoiseState();
    ~NoiseStateGuard() { lintaq::pokeNoiseState(saved); }
};

uint32_t step(uint32_t x)
{
    return x * 1664525u + 1013904223u;
}

TEST(NoiseThreads, ReservationsTileTheSequence)
{
    // Many small reservations of varied sizes, contending hard. Within the
    // ~6e8 steps drawn here every state of the sequence is distinct (its
    // period is 2^32), so stretches are identified by their start state.
    NoiseStateGuard guard;
    const uint32_t start = 987654321u;
    lintaq::pokeNoiseState(start);
    const int perThread = 100000;
    std::vector<std::vector<std::pair<uint32_t, uint32_t>>> taken(kThreads);
    std::latch ready(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            ready.arrive_and_wait();
            for (int i = 0; i < perThread; ++i) {
                const uint32_t steps = 1u + static_cast<uint32_t>(i * 7919 + t * 131) % 3000u;
                taken[t].emplace_back(lintaq::reserveNoise(steps), steps);
            }
        });
    }
    for (std::thread &th : threads)
        th.join();

    std::unordered_map<uint32_t, uint32_t> byStart;
    uint64_t total = 0;
    for (const auto &list : taken) {
        for (const auto &[first, steps] : list) {
            ASSERT_TRUE(byStart.emplace(first, steps).second) << "two reservations share a start";
            total += steps;
        }
    }
    // Walk the chain: each stretch must end where another begins.
    uint32_t x = start;
    size_t visited = 0;
    for (auto it = byStart.find(x); it != byStart.end(); it = byStart.find(x)) {
        x = lintaq::jumpNoiseState(x, it->second);
        ++visited;
    }
    EXPECT_EQ(visited, byStart.size()) << "gap in the sequence";
    EXPECT_EQ(x, lintaq::peekNoiseState());
    EXPECT_EQ(x, lintaq::jumpNoiseState(start, static_cast<uint32_t>(total)));
}

TEST(NoiseThreads, InstancesOnSeveralThreadsDrawDisjointFrames)
{
    // Mono instances in mode 3 (frames of 8192 samples) with noise on, silent
    // input and identity bands: after each one-hop call the work frame is
    // exactly that frame's noise. Every frame draws 8192 steps, so the frames
    // must be the stretches k * 8192 of the sequence, each taken once.
    NoiseStateGuard guard;
    const uint32_t start = 13u;
    lintaq::pokeNoiseState(start);
    const int framesPerThread = 6, frameLength = 8192;
    std::vector<std::vector<std::vector<float>>> frames(kThreads);
    std::latch ready(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            PeqInstance *inst = LintaqInit(3, 0);
            PeqParams p{};
            for (int k = 0; k < LINTAQ_BANDS; ++k) {
                p.freq[k] = 1000.0f;
                p.q[k] = 0.7f;
            }
            p.sampleRate = 48000;
            p.noise = 1;
            LintaqSetPar(inst, &p);
            std::vector<float> block(2048);
            ready.arrive_and_wait();
            for (int f = 0; f < framesPerThread; ++f) {
                std::fill(block.begin(), block.end(), 0.0f);
                LintaqProc(inst, block.data(), 2048);
                frames[t].emplace_back(inst->workFrame[0], inst->workFrame[0] + frameLength);
            }
            LintaqExit(inst);
        });
    }
    for (std::thread &th : threads)
        th.join();

    const int total = kThreads * framesPerThread;
    std::vector<float> sequence(static_cast<size_t>(total) * frameLength);
    uint32_t x = start;
    for (float &e : sequence) {
        x = step(x);
        e = static_cast<float>((static_cast<int32_t>(x >> 16) - 32768) * 1e-20);
    }
    EXPECT_EQ(lintaq::peekNoiseState(), x);
    std::vector<int> uses(total, 0);
    for (const auto &list : frames) {
        for (const auto &frame : list) {
            int found = -1;
            for (int k = 0; k < total && found < 0; ++k) {
                if (std::equal(frame.begin(), frame.end(), sequence.begin() + static_cast<long>(k) * frameLength))
                    found = k;
            }
            ASSERT_GE(found, 0) << "a frame's noise is no stretch of the sequence";
            ++uses[found];
        }
    }
    for (int k = 0; k < total; ++k)
        EXPECT_EQ(uses[k], 1) << "stretch " << k;
}

} // namespace
