#include "platform/threads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace {

TEST(ThreadsTest, StartedBodyRunsOnAnotherThread) {
  std::promise<std::thread::id> ran;
  std::future<std::thread::id> ranOn = ran.get_future();
  ASSERT_TRUE(StartDetachedThread([&ran] { ran.set_value(std::this_thread::get_id()); }));
  ASSERT_EQ(ranOn.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_NE(ranOn.get(), std::this_thread::get_id());
}

TEST(ThreadsTest, AnEmptyBodyIsNotStarted) {
  EXPECT_FALSE(StartDetachedThread(std::function<void()>()));
}

TEST(ThreadsTest, SleepLastsAtLeastItsTime) {
  const auto before = std::chrono::steady_clock::now();
  SleepMilliseconds(20);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(20));
  SleepMilliseconds(0);
  SleepMilliseconds(-5);
}

}  // namespace
