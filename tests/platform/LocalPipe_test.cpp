#include "platform/LocalPipe.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "platform/EventLoop.h"
#include "tests/peers/FakeManager.h"
#include "tests/peers/TestSupport.h"
#include "tests/platform/PipeClientSupport.h"

namespace nv {
namespace {
using namespace std::chrono_literals;

using test::connectRaw;
using test::pumpUntil;

TEST(LocalPipeServer, HandsMessagesOverInAcceptOrderWithMode0660) {
    test::TempDir dir;
    EventLoop loop;
    std::vector<std::string> got;
    LocalPipeServer server(loop, [&](const std::string& m) { got.push_back(m); });
    auto path = dir / "PelmoraServer";
    server.listen(path);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0660u);

    int first = connectRaw(path);
    int second = connectRaw(path);
    ASSERT_GE(first, 0);
    ASSERT_GE(second, 0);
    loop.pumpFor(20ms);
    // The later connection finishes first; its message still comes second.
    ASSERT_EQ(::write(second, "cmd=ping", 8), 8);
    ::close(second);
    loop.pumpFor(20ms);
    EXPECT_TRUE(got.empty());
    ASSERT_EQ(::write(first, "cmd=send_counters", 17), 17);
    ::close(first);
    pumpUntil(loop, [&] { return got.size() == 2; });
    EXPECT_EQ(got, (std::vector<std::string>{"cmd=send_counters", "cmd=ping"}));
}

TEST(LocalPipeServer, DropsAStalledClientWithoutHoldingBackLaterMessages) {
    test::TempDir dir;
    EventLoop loop;
    std::vector<std::string> got;
    LocalPipeServer::Limits limits;
    limits.readTimeout = 100ms;
    LocalPipeServer server(loop, [&](const std::string& m) { got.push_back(m); }, limits);
    auto path = dir / "PelmoraServer";
    server.listen(path);
    int stalled = connectRaw(path);
    ASSERT_GE(stalled, 0);
    ASSERT_EQ(::write(stalled, "cmd=pi", 6), 6);  // never finishes
    loop.pumpFor(20ms);
    ASSERT_TRUE(test::sendCommand(path, "cmd=ping"));
    pumpUntil(loop, [&] { return !got.empty(); });
    EXPECT_EQ(got, (std::vector<std::string>{"cmd=ping"}));
    ::close(stalled);
}

TEST(LocalPipeServer, ReplacesAStaleSocketButNotALiveServer) {
    test::TempDir dir;
    EventLoop loop;
    auto path = dir / "PelmoraServer";
    {
        // A socket file left behind by a server that is gone.
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd);
    }
    std::vector<std::string> got;
    LocalPipeServer server(loop, [&](const std::string& m) { got.push_back(m); });
    ASSERT_NO_THROW(server.listen(path));
    LocalPipeServer intruder(loop, [](const std::string&) {});
    EXPECT_THROW(intruder.listen(path), std::runtime_error);
    ASSERT_TRUE(test::sendCommand(path, "cmd=ping"));
    pumpUntil(loop, [&] { return !got.empty(); });
    EXPECT_EQ(got, (std::vector<std::string>{"cmd=ping"}));
}

TEST(LocalPipeClient, AbsentReaderFailsAtOnceAndSenderDropsInOrder) {
    test::TempDir dir;
    auto path = dir / "PelmoraConfig";
    std::string error;
    EXPECT_FALSE(sendLocalMessage(path, "cmd=ping", 25ms, 25ms, &error));
    EXPECT_FALSE(error.empty());

    PipeSender::Options opt;
    opt.maxQueuedBytes = 64;
    opt.flushOnClose = 2000ms;
    PipeSender sender(path, opt);
    sender.send("lost while nobody listens");
    ASSERT_TRUE(sender.flush(2000ms));
    EXPECT_EQ(sender.dropped(), 1u);

    test::FakeManager manager(path);
    sender.send("one");
    sender.send("two");
    sender.send(std::string(100, 'x'));  // over the cap of unsent bytes: dropped
    ASSERT_TRUE(sender.flush(2000ms));
    ASSERT_TRUE(test::waitUntil([&] { return manager.count() == 2; }, 2000ms));
    EXPECT_EQ(manager.messages(), (std::vector<std::string>{"one", "two"}));
}

}  // namespace
}  // namespace nv
