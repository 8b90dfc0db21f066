// The queue between a capture thread and an encoder thread: bounded, closable, in order.

#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Recorder/BoundedQueue.h"

namespace Vantor::Lumo::Recorder {
namespace {

TEST(BoundedQueueTest, APushBeyondTheCapacityIsRefusedUntilTheConsumerTakesOne) {
    BoundedQueue<int> queue(3);
    for (int item = 0; item < 3; ++item) {
        EXPECT_FALSE(queue.Full());
        EXPECT_TRUE(queue.TryPush(int(item)));
    }
    EXPECT_TRUE(queue.Full());
    EXPECT_FALSE(queue.TryPush(3));
    EXPECT_EQ(queue.Pop(), 0);
    EXPECT_FALSE(queue.Full());
    EXPECT_TRUE(queue.TryPush(4));
    EXPECT_TRUE(queue.Full());
    EXPECT_FALSE(queue.TryPush(5));
    queue.Close();
    for (int expected : {1, 2, 4}) {
        EXPECT_EQ(queue.Pop(), expected);
    }
    EXPECT_EQ(queue.Pop(), std::nullopt);
}

TEST(BoundedQueueTest, AClosedQueueTakesNothingAndHandsOutWhatIsLeftThenTheEnd) {
    BoundedQueue<std::unique_ptr<int>> queue(4);
    ASSERT_TRUE(queue.TryPush(std::make_unique<int>(7)));
    ASSERT_TRUE(queue.TryPush(std::make_unique<int>(8)));
    queue.Close();
    EXPECT_TRUE(queue.Full()) << "a closed queue has no room";
    auto refused = std::make_unique<int>(9);
    EXPECT_FALSE(queue.TryPush(std::move(refused)));
    ASSERT_TRUE(refused) << "a refused item stays with the producer";
    EXPECT_EQ(*queue.Pop().value(), 7);
    EXPECT_EQ(*queue.Pop().value(), 8);
    EXPECT_EQ(queue.Pop(), std::nullopt);
    EXPECT_EQ(queue.Pop(), std::nullopt) << "the end stays the end";
}

TEST(BoundedQueueTest, AConsumerWaitingOnAnEmptyQueueWakesForCloseAndReportsTheEnd) {
    BoundedQueue<int> queue(2);
    std::optional<int> popped = 1;
    std::thread consumer([&] { popped = queue.Pop(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    queue.Close();
    consumer.join();
    EXPECT_EQ(popped, std::nullopt);
}

// A fast producer and a slower consumer: what the queue took arrives complete and in order.
TEST(BoundedQueueTest, ItemsPassBetweenThreadsInOrderAndOnlyRefusedOnesAreLost) {
    constexpr int kItems = 20000;
    constexpr std::size_t kCapacity = 8;
    BoundedQueue<int> queue(kCapacity);
    std::vector<int> taken;
    int refused = 0;
    std::thread producer([&] {
        for (int item = 0; item < kItems; ++item) {
            if (queue.TryPush(int(item))) {
                taken.push_back(item);
            } else {
                ++refused;
            }
            if (item % 64 == 0) {
                std::this_thread::yield();
            }
        }
        queue.Close();
    });
    std::vector<int> received;
    while (std::optional<int> item = queue.Pop()) {
        received.push_back(*item);
        if (received.size() % 16 == 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }
    producer.join();
    EXPECT_EQ(received, taken);
    EXPECT_EQ(static_cast<int>(received.size()) + refused, kItems);
    EXPECT_GT(refused, 0) << "the consumer never fell behind: the bound went untested";
}

}  // namespace
}  // namespace Vantor::Lumo::Recorder
