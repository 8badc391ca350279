// The log as a door: what outside input and a failing file system do to
// Log.Dat and to the log message.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <vector>

#include "service/EngineLog.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

LocalClockFn fixedClock() {
    return [] { return LocalDateTime{2026, 12, 9, 12, 0, 0}; };
}
const std::string kStamp = "12/09/2026 12:00:00 - ";

// A file-size limit makes every write past `bytes` fail with EFBIG, as a full
// disk fails with ENOSPC; SIGXFSZ is ignored so the write returns the error.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = m_old;
        lim.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        ::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_old{};
    sighandler_t m_oldHandler;
};

TEST(LogDoor, VerticalTabAndFormFeedBecomeBlanks) {
    test::TempDir dir;
    EngineLog log(dir.path(), fixedClock());
    EXPECT_EQ(log.write("Message: a\x0b\x0c" "b"), kStamp + "Message: a  b");
    EXPECT_EQ(test::readFile(dir / "Log.Dat"), kStamp + "Message: a  b\r\n");
}

TEST(LogDoor, LogFileIsOwnerAndGroupOnly) {
    test::TempDir dir;
    mode_t old = ::umask(022);
    {
        EngineLog log(dir.path(), fixedClock());
        log.write("[System] one");
    }
    ::umask(old);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "Log.Dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, kLogFileMode);
    EXPECT_EQ(kLogFileMode, 0640u);
}

TEST(LogDoor, FullDiskIsReportedOnceAndThePartialLineTakenBack) {
    test::TempDir dir;
    std::vector<std::string> reports;
    EngineLog log(dir.path(), fixedClock(), [&](const std::string& t) { reports.push_back(t); });
    const std::string first = kStamp + "[System] fits\r\n";
    log.write("[System] fits");
    {
        FileSizeLimit limit(first.size() + 10);  // room for 10 bytes of the next line
        log.write("[System] a line much longer than the room that is left");
        log.write("[System] another line that does not fit either");
        EXPECT_EQ(test::readFile(dir / "Log.Dat"), first);
    }
    ASSERT_EQ(reports.size(), 1u);  // one kind of failure, one report
    EXPECT_NE(reports[0].find("Unable To Write"), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find("Log.Dat"), std::string::npos) << reports[0];

    log.write("[System] after");
    EXPECT_EQ(test::readFile(dir / "Log.Dat"), first + kStamp + "[System] after\r\n");
    // A good write ends the failure: the next one is reported again.
    {
        FileSizeLimit limit(1);
        log.write("[System] again");
    }
    EXPECT_EQ(reports.size(), 2u);
}

TEST(LogDoor, LogFileThatCannotBeOpenedIsReported) {
    test::TempDir dir;
    std::filesystem::create_directory(dir / "Log.Dat");  // in the way: not a file
    std::vector<std::string> reports;
    EngineLog log(dir.path(), fixedClock(), [&](const std::string& t) { reports.push_back(t); });
    EXPECT_EQ(log.write("[System] lost"), kStamp + "[System] lost");
    log.write("[System] lost too");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("Unable To Open"), std::string::npos) << reports[0];
}

TEST(LogDoor, AtTheDescriptorLimitTheLogUsesItsReserve) {
    test::TempDir dir;
    std::vector<std::string> reports;
    EngineLog log(dir.path(), fixedClock(), [&](const std::string& t) { reports.push_back(t); });
    rlimit old{};
    ::getrlimit(RLIMIT_NOFILE, &old);
    std::vector<int> filler;
    {
        rlimit lim = old;
        lim.rlim_cur = 64;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lim), 0);
        for (;;) {
            int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (fd < 0) break;
            filler.push_back(fd);
        }
        ASSERT_EQ(errno, EMFILE);
        log.write("[System] at the limit");
        log.write("[System] still at the limit");
        for (int fd : filler) ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &old);
    }
    EXPECT_EQ(test::readFile(dir / "Log.Dat"),
              kStamp + "[System] at the limit\r\n" + kStamp + "[System] still at the limit\r\n");
    EXPECT_TRUE(reports.empty());
}

}  // namespace
}  // namespace nv
