// The carrier list window against a loopback list server that answers by query
// string, directly and through Debian's tinyproxy with Basic authentication;
// what an import writes to Provider.dat; the list's proxy and server settings.
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTimer>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "foundation/RecordAccess.h"
#include "manager/ListServerFrm.h"
#include "manager/PCLForm.h"
#include "manager/TimedMDlg.h"
#include "tests/manager/ProviderTestSupport.h"
#include "tests/peers/HttpPeer.h"
#include "tests/peers/PeerNet.h"

extern char** environ;

namespace nv::test {
namespace {

const char* kList =
    "<HTML><BODY><PRE>\r\n"
    "Carriers - Location|Type|Id\r\n"
    "Acme Wireless - Dallas|TAP|11\r\n"
    "Acme - North Dallas|SNPP|21\r\n"
    "Acme - Dallas|SNPP|22\r\n"
    "Acme - Dallas|WCTP|23\r\n"
    "Acme - Dallas|TAP|24\r\n"
    "Beta Paging - Austin|TAP|a b&c\r\n"
    "</PRE></BODY></HTML>\r\n";

const char* kSnppRecord =
    "<HTML><PRE>\r\n"
    "ConnectionType=SNPP\r\n"
    "ProviderName=Acme SNPP\r\n"
    "Length= 160 \r\n"
    "Notes=From the list\r\n"
    "Server=snpp.acme.test\r\n"
    "Port=444\r\n"
    "NoQueue=False\r\n"
    "TwoWay=True\r\n"
    "Ping=false\r\n"
    "Cove=0\r\n"
    "Hold=False\r\n"
    "Level=1\r\n"
    "Coverage=TX\r\n"
    "CarrierName=Acme Inc\r\n"
    "City=Dallas\r\n"
    "State=TX, USA\r\n"
    "WebSite=https://acme.test\r\n"
    "</PRE></HTML>\r\n";

HttpReply page(const std::string& body) {
    HttpReply r;
    r.body = body;
    r.contentType = "text/html";
    return r;
}

struct ListEnv : WindowEnv {
    HttpPeer server;
    ListEnv() {
        server.addQueryReply("cmd=RmtCarrierInfo", page(kList));
        server.addQueryReply("cmd=RmtCarrierData&RecID=22", page(kSnppRecord));
    }
    QString url() const { return QString("http://127.0.0.1:%1/list").arg(server.port()); }
};

// Shows the window and waits for the carrier list.
void open(TListServerFrm& w) {
    QSignalSpy done(&w, &TListServerFrm::requestFinished);
    w.show();
    ASSERT_TRUE(done.wait(15000));
}

QStringList items(QComboBox* c) {
    QStringList out;
    for (int i = 0; i < c->count(); ++i) out << c->itemText(i);
    return out;
}
QStringList items(QListWidget* l) {
    QStringList out;
    for (int i = 0; i < l->count(); ++i) out << l->item(i)->text();
    return out;
}

// Chooses carrier, service type and location row, presses "&Add", waits for the record.
void add(TListServerFrm& w, const char* carrier, const char* type, int row) {
    auto* c = child<QComboBox>(w, "Carrier");
    c->setCurrentIndex(c->findText(carrier));
    auto* t = child<QComboBox>(w, "ServiceType");
    t->setCurrentIndex(t->findText(type));
    child<QListWidget>(w, "ServiceLocation")->setCurrentRow(row);
    QSignalSpy done(&w, &TListServerFrm::requestFinished);
    click(w, "BitBtn1");
    ASSERT_TRUE(done.wait(15000));
}

TEST(CarrierList, CarriersLocationsAndAnSnppImport) {
    ListEnv env;
    TListServerFrm w(env.ctx, env.url(), {});
    open(w);
    EXPECT_EQ(items(child<QComboBox>(w, "Carrier")),
              (QStringList{"Select Carrier...", "Acme", "Acme Wireless", "Beta Paging", "Carriers"}));
    auto* c = child<QComboBox>(w, "Carrier");
    c->setCurrentIndex(c->findText("Acme"));
    auto* type = child<QComboBox>(w, "ServiceType");
    auto* locations = child<QListWidget>(w, "ServiceLocation");
    EXPECT_EQ(items(locations), (QStringList{"North Dallas - SNPP", "Dallas - SNPP", "Dallas - WCTP", "Dallas - TAP"}));
    type->setCurrentIndex(type->findText("SNPP"));
    EXPECT_EQ(items(locations), (QStringList{"North Dallas - SNPP", "Dallas - SNPP"}));
    // The list's first line is never searched: "Carriers" has no locations.
    c->setCurrentIndex(c->findText("Carriers"));
    type->setCurrentIndex(0);
    EXPECT_TRUE(items(locations).isEmpty());

    add(w, "Acme", "SNPP", 1);
    EXPECT_EQ(env.ui.texts(), std::vector<QString>{"Provider Added!"});
    const auto requests = env.server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].requestLine, "GET /list/korpc.icd?cmd=RmtCarrierInfo HTTP/1.1");
    EXPECT_EQ(requests[1].requestLine, "GET /list/korpc.icd?cmd=RmtCarrierData&RecID=22 HTTP/1.1");

    const std::string file = readFile(env.file("Provider.dat"));
    ASSERT_EQ(file.size(), kHeader + kProviderSize);
    const std::string rec = recordAt(file, kProviderSize, 0);
    std::string expected(kProviderSize, '\0');
    putText(expected, 0, 35, "Acme SNPP");
    putText(expected, 158, 255, "From the list");
    expected[414] = 0;  // NoQueue=False
    expected[415] = 1;
    expected[416] = 1;  // "false" in small letters counts as on, as the old import read it
    expected[417] = 1;
    expected[418] = 0;
    expected[419] = 1;
    putInt32(expected, 420, 160);
    putText(expected, 429, 255, "snpp.acme.test");
    putText(expected, 685, 15, "444");
    putInt32(expected, 702, 57);
    expected[708] = 3;
    expected[710] = 1;
    putText(expected, 988, 255, "http://dtd.wctp.org/wctpv1-0.dtd");
    putText(expected, 1684, 35, "TX");
    expected[1721] = 6;
    expected[1722] = 2;
    expected[1723] = 1;
    expected[1833] = 4;
    putText(expected, 1946, 50, "Acme Inc");
    putText(expected, 2099, 50, "Dallas");
    putText(expected, 2150, 25, "TX");
    putText(expected, 2355, 150, "https://acme.test");
    expected[2506] = 2;
    putInt32(expected, 2543, -1);  // imported SNPP providers start without SSL
    putInt32(expected, 2867, -1);
    EXPECT_EQ(firstDifference(rec, expected, {{138, 146}, {1872, 1880}}), -1);
    EXPECT_TRUE(child<QPushButton>(w, "BitBtn1")->isEnabled());
}

// The request's progress shows in a "Status" window of its own, not modal, without
// OK or close timer, hidden again once the reply is handled.
TEST(CarrierList, ProgressShowsInTheStatusWindow) {
    ListEnv env;
    TListServerFrm w(env.ctx, env.url(), {});
    QSignalSpy done(&w, &TListServerFrm::requestFinished);
    w.show();
    TTimedMsgFrm* status = w.progressWindow();
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->isVisible());
    EXPECT_TRUE(status->isWindow());
    EXPECT_FALSE(status->isModal());
    EXPECT_EQ(status->windowTitle(), "Status");
    EXPECT_EQ(status->message1->text(), "Connecting To Server, Please Wait...");
    EXPECT_TRUE(status->message1->font().bold());
    EXPECT_FALSE(status->OKBut->isVisible());
    EXPECT_TRUE(status->ProgressBar1->isVisible());
    EXPECT_EQ(status->ProgressBar1->value(), 0);
    EXPECT_FALSE(status->Timer1->isActive());
    ASSERT_TRUE(done.wait(15000));
    EXPECT_FALSE(status->isVisible());
    EXPECT_EQ(child<QComboBox>(w, "Carrier")->count(), 5);  // the window kept working meanwhile

    add(w, "Acme", "SNPP", 1);
    EXPECT_FALSE(status->isVisible());
    EXPECT_EQ(w.progressWindow(), status);  // one progress window for the window's life
}

TEST(CarrierList, TheRecordIdIsUrlEncoded) {
    ListEnv env;
    env.server.addQueryReply("cmd=RmtCarrierData&RecID=a%20b%26c",
                             page("<PRE>\r\nConnectionType=TAP\r\nProviderName=Beta\r\nLength=80\r\n"
                                  "AccessNumber=5551212\r\n</PRE>"));
    TListServerFrm w(env.ctx, env.url(), {});
    open(w);
    add(w, "Beta Paging", "ALL", 0);
    EXPECT_EQ(env.ui.texts(), std::vector<QString>{"Provider Added!"});
    auto beta = FindProvider("Beta", env.dir.path(), env.ui);
    ASSERT_TRUE(beta);
    EXPECT_EQ(beta->DeliveryType(), 1);
    EXPECT_EQ(beta->TerminalAccessNum(), "5551212");
    EXPECT_EQ(beta->MsgLength(), 80);
}

TEST(CarrierList, RecordsThatAreNotImported) {
    struct Case {
        const char* what;
        std::string record;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"e-mail carrier", "<PRE>\nConnectionType=E-MAIL\nProviderName=Mail\nServer=pager.acme.test\n",
         "Use pager.acme.test As The User Pin"},
        {"other type", "<PRE>\nConnectionType=SMPP\nProviderName=Smpp Co\nLength=160\n",
         "Unsupported Connection Type \"SMPP\" In Carrier Record; Nothing Added!"},
        {"name climbing out of the data folder", "<PRE>\nConnectionType=TAP\nProviderName=../evil\nLength=80\n",
         "Carrier Record Has No Usable Provider Name; Nothing Added!"},
        {"empty name", "<PRE>\nConnectionType=TAP\nLength=80\n",
         "Carrier Record Has No Usable Provider Name; Nothing Added!"},
        {"length not a number", "<PRE>\nConnectionType=TAP\nProviderName=Acme\nLength=1x\n",
         "'1x' is not a valid integer value"},
        {"no data", "<HTML>Server busy</HTML>", "Data Transfer Error, Please Try Again"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ListEnv env;
        env.server.addQueryReply("cmd=RmtCarrierData&RecID=24", page(c.record));
        TListServerFrm w(env.ctx, env.url(), {});
        open(w);
        add(w, "Acme", "TAP", 0);
        EXPECT_EQ(env.ui.texts(), std::vector<QString>{c.message});
        EXPECT_FALSE(std::filesystem::exists(env.file("Provider.dat")));
        EXPECT_TRUE(child<QPushButton>(w, "BitBtn1")->isEnabled());
    }
}

TEST(CarrierList, OverwriteAnsweredNoLeavesTheFileAsItWas) {
    ListEnv env;
    writeFile(env.file("Provider.dat"), providerFile({{"Other"}, {"acme snpp", 1, 80, "5551212"}}));
    const std::string before = readFile(env.file("Provider.dat"));
    TListServerFrm w(env.ctx, env.url(), {});
    open(w);
    env.ui.answers = {DialogButton::No};
    add(w, "Acme", "SNPP", 1);
    EXPECT_EQ(env.ui.texts(), std::vector<QString>{"Provider Already In Database! Overwrite?"});
    EXPECT_EQ(readFile(env.file("Provider.dat")), before);

    env.ui.clear();
    add(w, "Acme", "SNPP", 1);  // Yes: the record is updated in place, its other fields kept
    EXPECT_EQ(env.ui.texts().back(), "Provider Added!");
    auto rec = FindProvider("Acme SNPP", env.dir.path(), env.ui);
    ASSERT_TRUE(rec);
    EXPECT_EQ(rec->FilePos(), static_cast<std::int32_t>(kHeader + kProviderSize));
    EXPECT_EQ(rec->CompanyName(), "acme snpp");
    EXPECT_EQ(rec->TerminalAccessNum(), "5551212");
    EXPECT_EQ(rec->DeliveryType(), 2);
    EXPECT_EQ(readFile(env.file("Provider.dat")).size(), before.size());
}

TEST(CarrierList, AListWithoutItsEndMarkerHoldsNoCarriers) {
    for (const char* body : {"<PRE>\r\nAcme - Dallas|TAP|1\r\n", "Acme - Dallas|TAP|1\r\n</PRE>"}) {
        SCOPED_TRACE(body);
        WindowEnv env;
        HttpPeer server;
        server.addQueryReply("cmd=RmtCarrierInfo", page(body));
        TListServerFrm w(env.ctx, QString("http://127.0.0.1:%1/").arg(server.port()), {});
        open(w);
        EXPECT_EQ(env.ui.texts(), std::vector<QString>{"No Carrier Data Found!"});
        EXPECT_FALSE(child<QPushButton>(w, "BitBtn1")->isEnabled());
    }
}

TEST(CarrierList, ServerErrorsReachTheOperator) {
    WindowEnv env;
    HttpPeer server;
    HttpReply missing;
    missing.status = 404;
    missing.reason = "Not Found";
    server.setReply(missing);
    TListServerFrm w(env.ctx, QString("http://127.0.0.1:%1/").arg(server.port()), {});
    open(w);
    EXPECT_EQ(env.ui.texts(), std::vector<QString>{"404 Not Found"});
    EXPECT_EQ(env.ui.shown[0].kind, DialogKind::Error);
    EXPECT_FALSE(child<QPushButton>(w, "BitBtn1")->isEnabled());
}

// tinyproxy on a free loopback port with Basic authentication, in the foreground.
class TinyProxy {
public:
    TinyProxy(const std::filesystem::path& dir, const std::string& user, const std::string& password) {
        port = freeLoopbackPort();
        const auto conf = dir / "tinyproxy.conf";
        writeFile(conf, "Port " + std::to_string(port) + "\nListen 127.0.0.1\nTimeout 30\nMaxClients 8\n"
                            "Allow 127.0.0.1\nBasicAuth " + user + " " + password + "\nLogLevel Critical\n");
        const std::string confText = conf.string();
        char* argv[] = {const_cast<char*>("tinyproxy"), const_cast<char*>("-d"), const_cast<char*>("-c"),
                        const_cast<char*>(confText.c_str()), nullptr};
        if (posix_spawnp(&m_pid, "tinyproxy", nullptr, nullptr, argv, environ) != 0) m_pid = -1;
        for (int i = 0; i < 200 && m_pid > 0; ++i) {
            const int fd = connectLoopback(port);
            if (fd >= 0) {
                ::close(fd);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    ~TinyProxy() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    static bool available() { return std::system("command -v tinyproxy >/dev/null 2>&1") == 0; }
    std::uint16_t port = 0;

private:
    pid_t m_pid = -1;
};

TEST(CarrierList, ThroughTinyproxyWithBasicAuthentication) {
    if (!TinyProxy::available()) GTEST_SKIP() << "tinyproxy is not installed (scripts/deps.sh)";
    ListEnv env;
    TinyProxy proxy(env.dir.path(), "gw", "s3cret");
    for (const char* password : {"s3cret", "wrong"}) {
        SCOPED_TRACE(password);
        env.ui.clear();
        HttpGetOptions http;
        http.proxyHost = "127.0.0.1";
        http.proxyPort = proxy.port;
        http.proxyUser = "gw";
        http.proxyPassword = password;
        const std::size_t before = env.server.requests().size();
        TListServerFrm w(env.ctx, env.url(), http);
        open(w);
        if (std::string(password) == "s3cret") {
            EXPECT_TRUE(env.ui.shown.empty());
            EXPECT_EQ(child<QComboBox>(w, "Carrier")->count(), 5);
            ASSERT_EQ(env.server.requests().size(), before + 1);
            EXPECT_EQ(env.server.requests().back().query(), "cmd=RmtCarrierInfo");
            EXPECT_NE(env.server.requests().back().header("Via"), "");  // it came through the proxy
        } else {
            ASSERT_EQ(env.ui.shown.size(), 1u);
            EXPECT_EQ(env.ui.shown[0].kind, DialogKind::Error);
            EXPECT_EQ(env.server.requests().size(), before);
        }
    }
}

// The provider list's button: the server from the install file, the proxy from Config.Dat.
TEST(CarrierList, ListButtonReadsTheInstallFileAndTheProxySettings) {
    struct Case {
        const char* what;
        std::string install;
        std::string config;
        std::vector<QString> texts;
        bool opened;
        long proxyPort;
        bool verifyTls = true;
    };
    const std::string server = "[Nerivale]\nCarrierListServer=https://carriers.example.net/\n";
    const std::vector<Case> cases = {
        {"no server", "[Nerivale]\n", "", {"No carrier list server is configured: set CarrierListServer (an "
                                           "http:// or https:// address) in the [Nerivale] section of the install file."},
         false, 0},
        {"not a web address", "[Nerivale]\nCarrierListServer=ftp://x/\n", "",
         {"No carrier list server is configured: set CarrierListServer (an http:// or https:// address) in the "
          "[Nerivale] section of the install file."},
         false, 0},
        {"proxy port not a number", server, "[Proxy]\r\nEnabled=1\r\nServer=proxy.lan:abc\r\n",
         {"abc Is Not A Valid Port Number For Proxy!"}, false, 0},
        {"proxy without port", server, "[Proxy]\r\nEnabled=1\r\nServer=proxy.lan\r\nUser=u\r\nPass=p\r\n", {}, true, 80},
        {"proxy with port", server, "[Proxy]\r\nEnabled=1\r\nServer=proxy.lan:3128\r\n", {}, true, 3128},
        {"proxy off", server, "[Proxy]\r\nEnabled=0\r\nServer=proxy.lan:abc\r\n", {}, true, 0},
        {"certificate checks off", server, "[WCTP]\r\nWCTPFOBSSL=0\r\n", {}, true, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WindowEnv env;
        writeFile(env.file("Nerivale.ini"), c.install);
        if (!c.config.empty()) writeFile(env.file("Config.Dat"), c.config);
        ::setenv("NERIVALE_CONF", env.file("Nerivale.ini").c_str(), 1);
        TPCLForm list(env.ctx);
        bool opened = false;
        HttpGetOptions http;
        list.runCarrierList = [&](TListServerFrm& w) {
            opened = true;
            http = w.httpOptions();
        };
        list.BitBtn1Click();
        ::unsetenv("NERIVALE_CONF");
        EXPECT_EQ(env.ui.texts(), c.texts);
        EXPECT_EQ(opened, c.opened);
        if (!opened) continue;
        EXPECT_EQ(http.proxyHost, c.proxyPort ? "proxy.lan" : "");
        if (c.proxyPort) {
            EXPECT_EQ(http.proxyPort, c.proxyPort);
        }
        if (c.proxyPort == 80) {
            EXPECT_EQ(http.proxyUser + ":" + http.proxyPassword, "u:p");
        }
        EXPECT_EQ(http.verifyTls, c.verifyTls);
    }
}

}  // namespace
}  // namespace nv::test
