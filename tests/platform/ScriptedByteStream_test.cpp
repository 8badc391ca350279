// The scripted stream the dialogue tests and fuzz targets run against.
#include "tests/peers/ScriptedByteStream.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace nv::test {
namespace {

TEST(ScriptedByteStream, ChunksKeepTheirBoundaries) {
    ScriptedByteStream s;
    s.deliver("ID=");
    s.deliver("\r\n");
    ASSERT_TRUE(s.waitReadable(1s));
    EXPECT_EQ(s.readAvailable(2), "ID");
    EXPECT_EQ(s.readAvailable(100), "=");
    EXPECT_EQ(s.readAvailable(100), "\r\n");
    EXPECT_EQ(s.readAvailable(100), "");
    EXPECT_TRUE(s.up());
}

TEST(ScriptedByteStream, StepsFireInOrderOnePerWrite) {
    ScriptedByteStream s;
    s.deliverAfterWrite("\r", "ID=");
    s.deliverAfterWrite("PG1", "110 1.8\r");
    EXPECT_TRUE(s.writeAll("PG", 1s));  // "PG" alone is not yet the trigger
    EXPECT_EQ(s.readAvailable(100), "");
    EXPECT_TRUE(s.writeAll("1\r", 1s));  // first step fires; "PG1" counts for no later step
    EXPECT_EQ(s.readAvailable(100), "ID=");
    EXPECT_EQ(s.readAvailable(100), "");
    EXPECT_TRUE(s.writeAll("\x1bPG1", 1s));
    EXPECT_EQ(s.readAvailable(100), "110 1.8\r");
    EXPECT_EQ(s.written(), "PG1\r\x1bPG1");
}

TEST(ScriptedByteStream, WriteHookAnswersEachWrite) {
    ScriptedByteStream s;
    s.onWrite([](std::string_view w, ScriptedByteStream& st) {
        if (w == "AT\r") st.deliver("\r\nOK\r\n");
    });
    EXPECT_TRUE(s.writeAll("AT\r", 1s));
    EXPECT_EQ(s.readAvailable(100), "\r\nOK\r\n");
    EXPECT_TRUE(s.writeAll("ATZ\r", 1s));
    EXPECT_EQ(s.pending(), 0u);
}

TEST(ScriptedByteStream, EndsWhenDrainedOrClosed) {
    ScriptedByteStream s;
    s.deliver("x");
    s.deliverAfterWrite("", "y");
    s.endWhenDrained();
    EXPECT_TRUE(s.up());
    EXPECT_EQ(s.readAvailable(10), "x");
    EXPECT_TRUE(s.up());  // a step still waits for a write
    EXPECT_TRUE(s.writeAll("go", 1s));
    EXPECT_EQ(s.readAvailable(10), "y");
    EXPECT_FALSE(s.up());
    EXPECT_FALSE(s.writeAll("late", 1s));
    EXPECT_EQ(s.written(), "go");

    ScriptedByteStream c;
    c.close();
    EXPECT_FALSE(c.up());
    c.failWrites(false);
    EXPECT_FALSE(c.writeAll("z", 1s));
}

TEST(ScriptedByteStream, WaitMovesTheManualClockInsteadOfSleeping) {
    ManualClock clock;
    ScriptedByteStream s(&clock);
    auto start = clock.now();
    EXPECT_FALSE(s.waitReadable(5s));
    EXPECT_EQ(clock.now() - start, 5s);
    s.deliver("ok");
    EXPECT_TRUE(s.waitReadable(5s));
    EXPECT_EQ(clock.now() - start, 5s);  // readable: no time passes
    EXPECT_EQ(s.waitCalls(), 2);
}

TEST(ScriptedByteStream, FailedWritesKeepNothing) {
    ScriptedByteStream s;
    s.failWrites();
    EXPECT_FALSE(s.writeAll("lost", 1s));
    EXPECT_EQ(s.written(), "");
    s.failWrites(false);
    EXPECT_TRUE(s.writeAll("kept", 1s));
    EXPECT_EQ(s.written(), "kept");
}

}  // namespace
}  // namespace nv::test
