#include "store/CaptureWriter.h"

#include <gtest/gtest.h>

#include <future>
#include <vector>

// Jobs run in the order they came, all of them before stop returns; a writer
// that is not running, or has fallen too far behind, refuses so the caller
// does the work itself.
TEST(CaptureWriter, RunsJobsInOrderAndRefusesWhenItCannotKeepUp) {
    CaptureWriter writer;
    EXPECT_FALSE(writer.post([] {}, 0));

    writer.start();
    std::promise<void> started, release;
    std::shared_future<void> released = release.get_future().share();
    ASSERT_TRUE(writer.post(
        [&started, released] {
            started.set_value();
            released.wait();
        },
        0));
    started.get_future().wait(); // the writer is busy and its queue empty
    std::vector<int> ran;
    // Memory first: one image may be large, but not a second beside it.
    ASSERT_TRUE(writer.post([&ran] { ran.push_back(0); }, CaptureWriter::kMaxBytes));
    EXPECT_FALSE(writer.post([] {}, 1));
    for (int i = 1; i < int(CaptureWriter::kMaxJobs); ++i)
        ASSERT_TRUE(writer.post([&ran, i] { ran.push_back(i); }, 0)) << i;
    EXPECT_FALSE(writer.post([] {}, 0)); // as many jobs as it takes
    release.set_value();
    writer.stop();
    ASSERT_EQ(ran.size(), CaptureWriter::kMaxJobs);
    for (std::size_t i = 0; i < ran.size(); ++i)
        EXPECT_EQ(ran[i], int(i)) << i;
    EXPECT_FALSE(writer.post([] {}, 0));

    writer.start(); // again, after a stop
    bool again = false;
    ASSERT_TRUE(writer.post([&again] { again = true; }, 0));
    writer.stop();
    EXPECT_TRUE(again);
}
