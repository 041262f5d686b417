#include "TranslateCore/Async/Channel.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace TranslateCore;
using namespace std::chrono_literals;
using TestSupport::drainEvents;
using TestSupport::runTask;
using TestSupport::spinUntil;

namespace {

struct Consumed {
    std::vector<int> items;
    std::exception_ptr error;
    bool ended = false;
};

QCoro::Task<> consume(ChannelReceiver<int> &rx, Consumed *out, CancellationToken token = {})
{
    try {
        while (auto item = co_await rx.next(token))
            out->items.push_back(*item);
    } catch (...) {
        out->error = std::current_exception();
    }
    out->ended = true;
}

} // namespace

// A paced start (1 ms between items) has the consumer suspend and wake for each item, and an idle
// consumer keeps up with it; the unpaced rest, with no sleeps on either side, shakes out lost
// wake-ups. Every item arrives once, in order.
TEST(Channel, DeliversEveryItemInOrderFromAnotherThread)
{
    constexpr int paced = 200, count = 20000;
    auto [tx, rx] = makeChannel<int>(30);
    Consumed got;
    auto task = consume(rx, &got);
    std::atomic<int> pacedFull = 0;
    std::thread producer([&tx = tx, &pacedFull] {
        for (int i = 0; i < count;) {
            if (i < paced)
                std::this_thread::sleep_for(1ms);
            switch (tx.push(i)) {
            case PushResult::ok:
                ++i;
                break;
            case PushResult::full:
                pacedFull += i < paced ? 1 : 0;
                std::this_thread::yield();
                break;
            case PushResult::closed:
                return;
            }
        }
        tx.close();
    });
    const bool ended = spinUntil([&] { return got.ended; }, 60s);
    producer.join();
    ASSERT_TRUE(ended);
    EXPECT_EQ(pacedFull.load(), 0) << "an idle consumer keeps up with a 1 ms producer";
    ASSERT_EQ(got.items.size(), static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(got.items[i], i);
    EXPECT_FALSE(got.error);
}

TEST(Channel, FullChannelRefusesAndCountsThenDeliversWhatItHeld)
{
    auto [tx, rx] = makeChannel<int>(30);
    std::vector<PushResult> results;
    std::thread([&tx = tx, &results] {
        for (int i = 0; i < 32; ++i)
            results.push_back(tx.push(i));
        tx.close();
        results.push_back(tx.push(99));
    }).join();
    EXPECT_EQ(std::count(results.begin(), results.begin() + 30, PushResult::ok), 30);
    EXPECT_EQ(results[30], PushResult::full);
    EXPECT_EQ(results[31], PushResult::full);
    EXPECT_EQ(results[32], PushResult::closed);
    EXPECT_EQ(rx.overflowCount(), 2u);

    Consumed got;
    runTask(consume(rx, &got));
    EXPECT_EQ(got.items.size(), 30u);
    EXPECT_FALSE(got.error);
}

TEST(Channel, ClosingWithAnErrorDeliversBufferedItemsFirst)
{
    auto [tx, rx] = makeChannel<int>(30);
    Consumed got;
    auto task = consume(rx, &got);
    std::thread([&tx = tx] {
        for (int i = 0; i < 3; ++i)
            tx.push(i);
        tx.closeWithError(std::make_exception_ptr(std::logic_error("device lost")));
    }).join();
    ASSERT_TRUE(spinUntil([&] { return got.ended; }));
    EXPECT_EQ(got.items, (std::vector<int> { 0, 1, 2 }));
    EXPECT_THROW(std::rethrow_exception(got.error), std::logic_error);
}

TEST(Channel, AProducerThatVanishesIsAnErrorAndAGoneConsumerClosesTheProducer)
{
    auto [tx, rx] = makeChannel<int>(4);
    Consumed got;
    auto task = consume(rx, &got);
    std::thread([sender = std::move(tx)]() mutable { sender.push(1); }).join();
    ASSERT_TRUE(spinUntil([&] { return got.ended; }));
    EXPECT_EQ(got.items, std::vector<int> { 1 });
    EXPECT_THROW(std::rethrow_exception(got.error), ChannelError);

    auto channel = makeChannel<int>(4);
    ChannelSender<int> sender = std::move(channel.first);
    {
        auto receiver = std::move(channel.second);
    }
    EXPECT_EQ(sender.push(1), PushResult::closed);
}

TEST(Channel, CancellingAWaitingConsumerKeepsLaterItemsForTheNextRead)
{
    auto [tx, rx] = makeChannel<int>(4);
    CancellationSource source;
    Consumed first;
    auto task = consume(rx, &first, source.token());
    source.cancel();
    ASSERT_TRUE(spinUntil([&] { return first.ended; }));
    EXPECT_THROW(std::rethrow_exception(first.error), CancellationError);

    tx.push(5);
    tx.close();
    Consumed second;
    runTask(consume(rx, &second));
    EXPECT_EQ(second.items, std::vector<int> { 5 });
}
