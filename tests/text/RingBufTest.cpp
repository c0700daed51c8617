#include "text/RingBuf.h"

#include <gtest/gtest.h>

#include <deque>
#include <random>
#include <vector>

#include "AllocSpy.h"

namespace {

void PutSequence(RingBuf& ring, int count, int first = 0) {
    for (int i = 0; i < count; ++i) {
        ring.Put(static_cast<uint8_t>(first + i));
    }
}

void TakeSequence(RingBuf& ring, int count, int first = 0) {
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(ring.Get(), static_cast<uint8_t>(first + i)) << "byte " << i;
    }
}

// Takes the whole content, which must be the given sequence.
void ExpectSequence(RingBuf& ring, int count, int first = 0) {
    ASSERT_EQ(ring.Count(), count);
    TakeSequence(ring, count, first);
    EXPECT_EQ(ring.Count(), 0);
}

TEST(RingBufGrowth, GrowsByOneStepInThePutThatFillsIt) {
    RingBuf ring(0);
    EXPECT_EQ(ring.Capacity(), 100);
    PutSequence(ring, 99);
    EXPECT_EQ(ring.Capacity(), 100);
    ring.Put(99);
    EXPECT_EQ(ring.Capacity(), 200);
    EXPECT_EQ(ring.Count(), 100);
    PutSequence(ring, 100, 100);
    EXPECT_EQ(ring.Capacity(), 300);
    ExpectSequence(ring, 200);
}

TEST(RingBufGrowth, ShrinksToSmallestStepAboveContentWhenReadWraps) {
    RingBuf ring(0);
    PutSequence(ring, 150);
    EXPECT_EQ(ring.Capacity(), 200);
    TakeSequence(ring, 100);  // the read index wraps with 50 bytes held
    EXPECT_EQ(ring.Capacity(), 100);
    ExpectSequence(ring, 50, 100);

    RingBuf big(0);
    PutSequence(big, 250);
    EXPECT_EQ(big.Capacity(), 300);
    TakeSequence(big, 100);  // wraps with 150 bytes held
    EXPECT_EQ(big.Capacity(), 200);
    ExpectSequence(big, 150, 100);
}

TEST(RingBufGrowth, TakeCopiesAcrossTheWrapAndKeepsTheStorage) {
    RingBuf ring(0);
    PutSequence(ring, 250);  // held from the grown part round to the start
    ASSERT_EQ(ring.Capacity(), 300);
    std::vector<uint8_t> out(260, 0xee);
    ring.Take(out.data(), 120);
    for (int i = 0; i < 120; ++i) {
        ASSERT_EQ(out[i], static_cast<uint8_t>(i)) << "byte " << i;
    }
    EXPECT_EQ(ring.Capacity(), 300);  // where Get would have shrunk it
    ring.Take(out.data(), 1000);      // no more than is held
    for (int i = 0; i < 130; ++i) {
        ASSERT_EQ(out[i], static_cast<uint8_t>(120 + i)) << "byte " << i;
    }
    EXPECT_EQ(out[130], 0xee);
    EXPECT_EQ(ring.Count(), 0);
    EXPECT_EQ(ring.Capacity(), 300);
    PutSequence(ring, 299);  // refilled without growing
    EXPECT_EQ(ring.Capacity(), 300);
    ExpectSequence(ring, 299);
}

TEST(RingBufFixed, DropsTheOldestByteAndNeverGrows) {
    RingBuf ring(5);
    PutSequence(ring, 5, 1);
    EXPECT_EQ(ring.Capacity(), 5);
    ExpectSequence(ring, 4, 2);
    PutSequence(ring, 300);
    EXPECT_EQ(ring.Capacity(), 5);
    ExpectSequence(ring, 4, 296);
}

TEST(RingBufReset, EmptiesAndReturnsToInitialCapacity) {
    RingBuf ring(0);
    PutSequence(ring, 333);
    ring.Reset();
    EXPECT_EQ(ring.Count(), 0);
    EXPECT_EQ(ring.Capacity(), 100);
    PutSequence(ring, 10, 5);
    ExpectSequence(ring, 10, 5);

    RingBuf fixed(7);
    PutSequence(fixed, 3);
    fixed.Reset();
    EXPECT_EQ(fixed.Count(), 0);
    EXPECT_EQ(fixed.Capacity(), 7);
}

TEST(RingBufAllocationFailure, RingWithoutStorageDiscardsUntilReset) {
    AllocSpy spy;
    spy.failAllocate = true;
    RingBuf ring(0);
    EXPECT_EQ(ring.Capacity(), 0);
    PutSequence(ring, 250);
    EXPECT_EQ(ring.Count(), 0);
    EXPECT_EQ(ring.Get(), 0);
    ring.Reset();
    EXPECT_EQ(ring.Capacity(), 0);

    spy.failAllocate = false;
    ring.Reset();
    EXPECT_EQ(ring.Capacity(), 100);
    PutSequence(ring, 20);
    ExpectSequence(ring, 20);
}

TEST(RingBufAllocationFailure, FailedGrowthReleasesStorageAndLosesContent) {
    AllocSpy spy;
    {
        RingBuf ring(0);
        PutSequence(ring, 99);
        spy.failReallocate = true;
        ring.Put(99);
        EXPECT_EQ(ring.Capacity(), 0);
        EXPECT_EQ(ring.Count(), 0);
        EXPECT_EQ(spy.LiveBlocks(), 0u);
        ring.Put(1);
        EXPECT_EQ(ring.Count(), 0);
    }
    EXPECT_EQ(spy.LiveBlocks(), 0u);
}

TEST(RingBufAllocationFailure, FailedShrinkKeepsStorageAndContent) {
    AllocSpy spy;
    RingBuf ring(0);
    PutSequence(ring, 150);
    spy.failReallocate = true;
    TakeSequence(ring, 100);
    EXPECT_EQ(spy.failedCalls, 1);
    EXPECT_EQ(ring.Capacity(), 200);
    PutSequence(ring, 120, 150);
    ExpectSequence(ring, 170, 100);
}

// Random puts and takes against a double-ended queue, for both kinds of ring.
void CompareWithQueue(int32_t size, unsigned seed) {
    RingBuf ring(size);
    std::deque<uint8_t> model;
    std::mt19937 random(seed);
    for (int round = 0; round < 2000; ++round) {
        const int puts = static_cast<int>(random() % 400);
        for (int i = 0; i < puts; ++i) {
            const auto byte = static_cast<uint8_t>(random());
            ring.Put(byte);
            model.push_back(byte);
            if (size > 0 && model.size() > static_cast<size_t>(size - 1)) {
                model.pop_front();
            }
        }
        ASSERT_EQ(ring.Count(), static_cast<int32_t>(model.size()));
        ASSERT_LT(ring.Count(), ring.Capacity());
        ASSERT_EQ(ring.Capacity() % (size == 0 ? 100 : size), 0);
        const int gets = static_cast<int>(random() % (model.size() + 1));
        for (int i = 0; i < gets; ++i) {
            ASSERT_EQ(ring.Get(), model.front());
            model.pop_front();
        }
    }
}

TEST(RingBufContent, MatchesAQueueUnderRandomUse) {
    CompareWithQueue(0, 1);
    CompareWithQueue(37, 2);
    CompareWithQueue(100, 3);
}

}  // namespace
