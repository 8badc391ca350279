#include "manager/ListServerFrm.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "foundation/DataFile.h"
#include "foundation/RecordAccess.h"
#include "manager/Help.h"
#include "manager/ProviderStore.h"
#include "manager/QtText.h"
#include "manager/TimedMDlg.h"

namespace nv {
namespace {

constexpr const char* kListQuery = "korpc.icd?cmd=RmtCarrierInfo";
constexpr const char* kRecordQuery = "korpc.icd?cmd=RmtCarrierData&RecID=";
constexpr const char* kSelectCarrier = "Select Carrier...";
// Imported records name the WCTP 1.0 DTD; the editor's default is 1.1.
constexpr const char* kWctp10DocType = "http://dtd.wctp.org/wctpv1-0.dtd";

QStringList linesOf(const QString& text) {
    QStringList lines = text.split('\n');
    for (QString& l : lines)
        if (l.endsWith('\r')) l.chop(1);
    return lines;
}

// The part between "<PRE>" and the "</PRE>" after it, trimmed; nothing when
// either marker is missing.
std::optional<QString> preformatted(const QString& text, bool needEnd) {
    const int open = text.indexOf("<PRE>");
    if (open < 0) return std::nullopt;
    QString rest = text.mid(open + 5);
    const int close = rest.indexOf("</PRE>");
    if (close < 0 && needEnd) return std::nullopt;
    if (close >= 0) rest.truncate(close);
    return rest.trimmed();
}

struct LineFields {
    QString carrier, location, type, id;
};
// "carrier - location|type|id"; nothing when a separator is missing.
std::optional<LineFields> fieldsOf(const QString& line) {
    const int dash = line.indexOf(" - ");
    if (dash < 0) return std::nullopt;
    const int bar1 = line.indexOf('|', dash + 3);
    if (bar1 < 0) return std::nullopt;
    const int bar2 = line.indexOf('|', bar1 + 1);
    if (bar2 < 0) return std::nullopt;
    return LineFields{line.left(dash).trimmed(), line.mid(dash + 3, bar1 - dash - 3),
                      line.mid(bar1 + 1, bar2 - bar1 - 1), line.mid(bar2 + 1).trimmed()};
}

// TStringList.Values: the first "name=value" line, name without regard to case.
QString valueOf(const QStringList& lines, const QString& name) {
    for (const QString& l : lines) {
        const int eq = l.indexOf('=');
        if (eq >= 0 && l.left(eq).compare(name, Qt::CaseInsensitive) == 0) return l.mid(eq + 1);
    }
    return {};
}

}  // namespace

QString TListServerFrm::carrierOfLine(const QString& line) { return line.left(line.indexOf(" - ")).trimmed(); }

TListServerFrm::TListServerFrm(ManagerContext& ctx, QString serverUrl, HttpGetOptions http, QWidget* parent)
    : QDialog(parent), m_ctx(ctx), m_serverUrl(std::move(serverUrl)), m_http(std::move(http)) {
    setWindowTitle("KOR Carrier List Server");
    if (!m_serverUrl.endsWith('/')) m_serverUrl += '/';
    m_http.cancel = m_job.cancelFlag();

    Carrier = new QComboBox;
    Carrier->setObjectName("Carrier");
    ServiceType = new QComboBox;
    ServiceType->setObjectName("ServiceType");
    ServiceType->addItems({"ALL", "TAP", "SNPP", "WCTP", "SMPP"});
    ServiceLocation = new QListWidget;
    ServiceLocation->setObjectName("ServiceLocation");
    auto* form = new QFormLayout;
    form->addRow("Carrier Name:", Carrier);
    form->addRow("Service Type:", ServiceType);
    form->addRow("Location:", ServiceLocation);

    m_add = new QPushButton("&Add");
    m_add->setObjectName("BitBtn1");
    m_done = new QPushButton("&Done");
    m_help = new QPushButton("&Help");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* b : {m_add, m_done, m_help}) buttons->addWidget(b);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);

    connect(Carrier, &QComboBox::currentIndexChanged, this, &TListServerFrm::ServiceTypeChange);
    connect(ServiceType, &QComboBox::currentIndexChanged, this, &TListServerFrm::ServiceTypeChange);
    connect(ServiceLocation, &QListWidget::itemDoubleClicked, this, &TListServerFrm::BitBtn1Click);
    connect(m_add, &QPushButton::clicked, this, &TListServerFrm::BitBtn1Click);
    connect(m_done, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_help, &QPushButton::clicked, this, [this] { showHelp(m_ctx.ui, m_ctx.appDir, 40); });
}

TListServerFrm::~TListServerFrm() = default;

void TListServerFrm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_shown) {
        m_shown = true;
        FormShow();
    }
}

void TListServerFrm::setButtonsEnabled(bool on) {
    for (QPushButton* b : {m_add, m_done, m_help}) b->setEnabled(on);
}

void TListServerFrm::get(const QString& query, void (TListServerFrm::*handler)(const HttpGetResult&)) {
    auto result = std::make_shared<HttpGetResult>();
    const std::string url = toCp1252(m_serverUrl + query);
    HttpGetOptions options = m_http;
    m_job.start(
        [this, result, url, options] {
            *result = httpGet(url, options, [this](HttpGetStep step, int percent) {
                QMetaObject::invokeMethod(this, [this, step, percent] { showStep(step, percent); },
                                          Qt::QueuedConnection);
            });
        },
        [this, result, handler] {
            tMsgFrm->hide();
            (this->*handler)(*result);
            emit requestFinished();
        });
}

void TListServerFrm::showProgress(const QString& message) {
    tMsgFrm->setMessage(message);
    tMsgFrm->setProgress(0, 100);
    tMsgFrm->show();
}

void TListServerFrm::showStep(HttpGetStep step, int percent) {
    // A step queued before the request ended arrives after the window was hidden.
    if (!m_job.busy()) return;
    switch (step) {
        case HttpGetStep::Connected:
            tMsgFrm->setMessage("Connection Established Waiting For Data..");
            tMsgFrm->show();
            break;
        case HttpGetStep::StartTransfer: tMsgFrm->setMessage("Starting Data Transfering From Server..."); break;
        case HttpGetStep::Transfer:
            tMsgFrm->setMessage("Transfering Data From Server...");
            tMsgFrm->setProgress(percent, 100);
            break;
    }
}

void TListServerFrm::failed(const HttpGetResult& reply) {
    m_ctx.ui.beep(BeepKind::Information);
    m_ctx.ui.errorBox(QString::fromStdString(reply.error));
}

void TListServerFrm::FormShow() {
    if (!tMsgFrm) {
        // The progress window: a top-level window of its own, never modal, no OK,
        // no close timer; a child so it stays above this window and goes with it.
        tMsgFrm = new TTimedMsgFrm(this);
        tMsgFrm->setCaption("Status");
        tMsgFrm->setOkVisible(false);
        QFont bold = tMsgFrm->message1->font();
        bold.setBold(true);
        tMsgFrm->message1->setFont(bold);
    }
    showProgress("Connecting To Server, Please Wait...");
    m_add->setEnabled(false);
    get(kListQuery, &TListServerFrm::listArrived);
}

void TListServerFrm::listArrived(const HttpGetResult& reply) {
    m_add->setEnabled(true);
    if (!reply.ok) {
        failed(reply);
        m_add->setEnabled(false);
        return;
    }
    // A reply without both markers holds no list.
    const auto list = preformatted(fromCp1252(reply.body), true);
    DataList = list ? linesOf(*list) : QStringList();
    QStringList names;
    for (const QString& line : DataList) {
        if (!line.contains(" - ")) continue;
        const QString name = carrierOfLine(line);
        bool known = false;
        for (const QString& n : names) known = known || n.compare(name, Qt::CaseInsensitive) == 0;
        if (!known) names << name;
    }
    names.sort(Qt::CaseInsensitive);
    const QSignalBlocker block(Carrier);
    Carrier->clear();
    Carrier->addItems(names);
    if (names.isEmpty()) {
        m_ctx.ui.information("No Carrier Data Found!");
        m_add->setEnabled(false);
        return;
    }
    Carrier->insertItem(0, kSelectCarrier);
    Carrier->setCurrentIndex(0);
}

void TListServerFrm::ServiceTypeChange() {
    ServiceLocation->clear();
    if (Carrier->currentIndex() < 0) return;
    const QString carrier = Carrier->currentText();
    const QString type = ServiceType->currentText();
    // The list's first line is not searched, as the list server's clients always did.
    for (int i = 1; i < DataList.size(); ++i) {
        const QString& line = DataList[i];
        auto f = fieldsOf(line);
        if (!f || f->carrier != carrier) continue;
        if (type != "ALL" && !line.contains(type)) continue;
        auto* item = new QListWidgetItem(f->location + " - " + f->type, ServiceLocation);
        item->setData(Qt::UserRole, i);
    }
}

void TListServerFrm::BitBtn1Click() {
    if (m_job.busy()) return;
    setButtonsEnabled(false);
    QListWidgetItem* item = ServiceLocation->currentItem();
    if (ServiceLocation->count() == 0 || !item) {
        m_ctx.ui.beep(BeepKind::Information);
        m_ctx.ui.information("No Location Selected");
        setButtonsEnabled(true);
        return;
    }
    if (Carrier->currentIndex() <= 0) {
        m_ctx.ui.beep(BeepKind::Information);
        m_ctx.ui.information("No Carrier Selected");
        setButtonsEnabled(true);
        return;
    }
    // The line of the choice, matched field by field: a carrier or a place
    // whose name holds another's ("North Dallas") is never taken for it.
    const int index = item->data(Qt::UserRole).toInt();
    auto f = index > 0 && index < DataList.size() ? fieldsOf(DataList[index]) : std::nullopt;
    if (!f || f->carrier != Carrier->currentText() || f->location + " - " + f->type != item->text()) {
        setButtonsEnabled(true);
        return;
    }
    tMsgFrm->setProgress(0, 100);
    get(kRecordQuery + QString::fromLatin1(QUrl::toPercentEncoding(f->id)), &TListServerFrm::recordArrived);
}

void TListServerFrm::recordArrived(const HttpGetResult& reply) {
    if (!reply.ok) {
        failed(reply);
    } else if (auto text = preformatted(fromCp1252(reply.body), false)) {
        importRecord(linesOf(*text));
    } else {
        m_ctx.ui.errorBox("Data Transfer Error, Please Try Again");
    }
    setButtonsEnabled(true);
}

void TListServerFrm::importRecord(const QStringList& lines) {
    auto value = [&](const char* name) { return valueOf(lines, name); };
    auto cp = [&](const char* name) { return toCp1252(value(name)); };
    // The old import's reading of a flag: only "False" is off.
    auto flag = [&](const char* name) { return value(name) != "False"; };
    const QString type = value("ConnectionType");
    if (type == "E-MAIL") {
        m_ctx.ui.information("Use " + value("Server") + " As The User Pin");
        return;
    }
    if (type != "TAP" && type != "SNPP" && type != "WCTP") {
        m_ctx.ui.beep(BeepKind::Information);
        m_ctx.ui.warning("Unsupported Connection Type \"" + type + "\" In Carrier Record; Nothing Added!");
        return;
    }
    // The name comes from the network and becomes a file name (<name>.mcf).
    const std::string name = cp("ProviderName");
    if (!isSafeProviderName(name)) {
        m_ctx.ui.beep(BeepKind::Information);
        m_ctx.ui.warning("Carrier Record Has No Usable Provider Name; Nothing Added!");
        return;
    }
    bool numeric = false;
    const int length = value("Length").trimmed().toInt(&numeric, 10);
    if (!numeric) {
        m_ctx.ui.errorBox("'" + value("Length").trimmed() + "' is not a valid integer value");
        return;
    }

    const double now = recordTimeNow();
    std::unique_ptr<ProviderRec> rec = FindProvider(name, m_ctx.workDir, m_ctx.ui);
    if (rec) {
        m_ctx.ui.beep(BeepKind::Information);
        if (m_ctx.ui.showDialog(DialogKind::Warning, "Provider Already In Database! Overwrite?",
                                {DialogButton::Yes, DialogButton::No}) != DialogButton::Yes)
            return;
    } else {
        rec = std::make_unique<ProviderRec>(newProviderRecord(now));
        rec->setCompanyName(name);
        rec->setWCTPDocType(kWctp10DocType);
        stampProviderSave(*rec, true, now);
    }
    rec->setDeliveryType(dtTapModem);
    rec->setMsgLength(length);
    rec->setNotes(cp("Notes"));
    if (type == "TAP") {
        rec->setTerminalAccessNum(cp("AccessNumber"));
    } else if (type == "SNPP") {
        rec->setSNPPServer(cp("Server"));
        rec->setSNPPPort(cp("Port"));
        rec->setNoQueue(flag("NoQueue"));
        rec->setTwoWay(flag("TwoWay"));
        rec->setPing(flag("Ping"));
        rec->setCove(flag("Cove"));
        rec->setHoldUntil(flag("Hold"));
        rec->setLevel(flag("Level"));
        rec->setCoverage(cp("Coverage"));
        rec->setSNPPUser("");
        rec->setSNPPPass("");
        rec->setDeliveryType(dtSnpp);
    } else {
        rec->setWCTPServer(cp("Server"));
        rec->setWCTPPort(cp("Port"));
        rec->setWCTPUser("");
        rec->setWCTPPass("");
        rec->setWCTPNotifyWhenQueued(flag("WCTPNotifyWhenQueued"));
        rec->setWCTPNotifyWhenDelivered(flag("WCTPNotifyWhenDelivered"));
        rec->setWCTPNotifyWhenRead(flag("WCTPNotifyWhenRead"));
        if (!value("WCTPDocType").isEmpty()) rec->setWCTPDocType(cp("WCTPDocType"));
        rec->setDeliveryType(dtWctp);
    }
    rec->setCarrierName(cp("CarrierName"));
    rec->setAddress(cp("Address"));
    rec->setCity(cp("City"));
    rec->setState(toCp1252(value("State").section(',', 0, 0)));
    rec->setZip(cp("Zip"));
    rec->setPhone(cp("Phone"));
    rec->setSupportEMail(cp("SupportEMail"));
    rec->setSalesEMail(cp("SalesEMail"));
    rec->setWebSite(cp("WebSite"));
    if (!SaveProvider(*rec, m_ctx.workDir, m_ctx.ui)) {
        m_ctx.ui.errorBox("Unable To Save Provider " + fromCp1252(name) + "!");
        return;
    }
    m_ctx.ui.beep(BeepKind::Information);
    m_ctx.ui.information("Provider Added!");
}

}  // namespace nv
