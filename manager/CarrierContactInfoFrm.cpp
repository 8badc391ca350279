#include "manager/CarrierContactInfoFrm.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QUrl>
#include <QVBoxLayout>

#include "manager/QtText.h"

namespace nv {
namespace {

constexpr const char* kSubject = "Carrier Update Submision";
constexpr const char* kSendErrorPrefix = "SMTP Send Errror: ";
constexpr int kSendErrorDialogLength = 68;
constexpr int kExceptionTextLength = 50;
constexpr int kMailTimeOutSeconds = 60;

}  // namespace

bool isMailButtonText(const QString& text) { return text.contains('@') && text.contains('.'); }

bool isWebButtonText(const QString& text) {
    return (text.contains("http://") || text.contains("https://")) && text.contains('.');
}

QUrl mailtoUrl(const QString& address) {
    static const QRegularExpression kAddress(R"(^[^@\s<>",;:()\[\]\\]+@[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+$)");
    const QString a = address.trimmed();
    if (!kAddress.match(a).hasMatch()) return {};
    return QUrl(QStringLiteral("mailto:") + QString::fromLatin1(QUrl::toPercentEncoding(a, "@")),
                QUrl::StrictMode);
}

QUrl webUrl(const QString& text) {
    QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != "http" && scheme != "https") || url.host().isEmpty()) return {};
    return url;
}

TCarrierContactInfoFrm::TCarrierContactInfoFrm(ManagerContext& ctx, QWidget* parent)
    : QDialog(parent), m_ctx(ctx) {
    setWindowTitle("Carrier Contact Information");
    auto* form = new QFormLayout;
    m_carrierName = addField(form, "CarrierName", "Carrier Name:", ProviderRec::kCarrierNameLength);
    m_contact = addField(form, "Conatct", "Contact Name", ProviderRec::kConatctLength);
    m_address = addField(form, "Address", "Address:", ProviderRec::kAddressLength);
    m_city = addField(form, "City", "City:", ProviderRec::kCityLength);
    m_state = addField(form, "State", "State:", ProviderRec::kStateLength);
    m_zip = addField(form, "Zip", "Zip:", ProviderRec::kZipLength);
    m_phone = addField(form, "Phone", "Phone Number:", ProviderRec::kPhoneLength);

    auto linkRow = [&](const char* name, const char* caption, int capacity, const char* button,
                       const char* buttonName, const char* hint, QPushButton*& out) {
        auto* edit = new QLineEdit;
        edit->setObjectName(name);
        edit->setMaxLength(capacity);
        out = new QPushButton(button);
        out->setObjectName(buttonName);
        out->setToolTip(hint);
        out->setAccessibleName(hint);
        out->setEnabled(false);
        auto* row = new QHBoxLayout;
        row->addWidget(edit, 1);
        row->addWidget(out);
        form->addRow(caption, row);
        if (auto* label = qobject_cast<QLabel*>(form->labelForField(row))) label->setBuddy(edit);
        connect(edit, &QLineEdit::editingFinished, this, &TCarrierContactInfoFrm::FormShow);
        return edit;
    };
    m_salesEMail = linkRow("SalesEMail", "Sales Email:", ProviderRec::kSalesEMailLength, "Send",
                           "SendSales", "Click To Send EMail", m_sendSales);
    m_supportEMail = linkRow("SupportEMail", "Support Email:", ProviderRec::kSupportEMailLength, "Send",
                             "SendSupport", "Click To Send EMail", m_sendSupport);
    m_webSite = linkRow("WebSite", "Web Site:", ProviderRec::kWebSiteLength, "Go", "GoToWeb",
                        "Click To Go To Web Site", m_goToWeb);
    m_sendSales->setAccessibleName("Send Sales EMail");
    m_sendSupport->setAccessibleName("Send Support EMail");
    m_webSite->setText("http://");

    connect(m_sendSales, &QPushButton::clicked, this, [this] { openMail(m_salesEMail); });
    connect(m_sendSupport, &QPushButton::clicked, this, [this] { openMail(m_supportEMail); });
    connect(m_goToWeb, &QPushButton::clicked, this, &TCarrierContactInfoFrm::GoToWebClick);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    buttons->button(QDialogButtonBox::Ok)->setText("&OK");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

// The send ends promptly once cancelled; its result is no longer wanted.
TCarrierContactInfoFrm::~TCarrierContactInfoFrm() = default;

QLineEdit* TCarrierContactInfoFrm::addField(QFormLayout* form, const char* name, const char* caption,
                                            int capacity) {
    auto* edit = new QLineEdit;
    edit->setObjectName(name);
    edit->setMaxLength(capacity);
    form->addRow(caption, edit);
    return edit;
}

void TCarrierContactInfoFrm::loadFrom(const ProviderRec& rec) {
    m_carrierName->setText(fromCp1252(rec.CarrierName()));
    m_contact->setText(fromCp1252(rec.Conatct()));
    m_address->setText(fromCp1252(rec.Address()));
    m_city->setText(fromCp1252(rec.City()));
    m_state->setText(fromCp1252(rec.State()));
    m_zip->setText(fromCp1252(rec.Zip()));
    m_phone->setText(fromCp1252(rec.Phone()));
    m_supportEMail->setText(fromCp1252(rec.SupportEMail()));
    m_salesEMail->setText(fromCp1252(rec.SalesEMail()));
    m_webSite->setText(fromCp1252(rec.WebSite()));
    FormShow();
}

void TCarrierContactInfoFrm::saveTo(ProviderRec& rec) const {
    rec.setCarrierName(toCp1252(m_carrierName->text()));
    rec.setConatct(toCp1252(m_contact->text()));
    rec.setAddress(toCp1252(m_address->text()));
    rec.setCity(toCp1252(m_city->text()));
    rec.setState(toCp1252(m_state->text()));
    rec.setZip(toCp1252(m_zip->text()));
    rec.setPhone(toCp1252(m_phone->text()));
    rec.setSupportEMail(toCp1252(m_supportEMail->text()));
    rec.setSalesEMail(toCp1252(m_salesEMail->text()));
    rec.setWebSite(toCp1252(m_webSite->text()));
}

void TCarrierContactInfoFrm::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TCarrierContactInfoFrm::FormShow() {
    m_sendSales->setEnabled(isMailButtonText(m_salesEMail->text()));
    m_sendSupport->setEnabled(isMailButtonText(m_supportEMail->text()));
    m_goToWeb->setEnabled(isWebButtonText(m_webSite->text()));
}

// Only one well-formed address goes to the desktop, percent-encoded, so a
// carrier record cannot smuggle headers or other verbs into the mailto link.
void TCarrierContactInfoFrm::openMail(const QLineEdit* field) {
    const QUrl url = mailtoUrl(field->text());
    if (url.isEmpty()) {
        m_ctx.ui.beep(BeepKind::Plain);
        return;
    }
    m_ctx.ui.openUrl(url);
}

// The text may come from the carrier list server: only http and https open.
void TCarrierContactInfoFrm::GoToWebClick() {
    const QUrl url = webUrl(m_webSite->text());
    if (url.isEmpty()) {
        m_ctx.ui.beep(BeepKind::Plain);
        return;
    }
    m_ctx.ui.openUrl(url);
}

bool TCarrierContactInfoFrm::SendSMTP(QStringList msg, const QString& from, const QString& to) {
    if (m_job.busy()) return false;
    msg << QString() << "CarrierName:=" + m_carrierName->text() << "ConContact:=" + m_contact->text()
        << "ConAddress:=" + m_address->text() << "ConCity:=" + m_city->text()
        << "ConState:=" + m_state->text() << "ConZip:=" + m_zip->text() << "ConPhone:=" + m_phone->text()
        << "ConSuport:=" + m_supportEMail->text() << "ConSales:=" + m_salesEMail->text()
        << "ConWeb:=" + m_webSite->text();
    auto job = std::make_shared<TSMTPData>();
    job->SMTPServer.clear();  // the recipient domain's mail exchangers
    job->SMTPPort = 25;
    job->SenderEMail = toCp1252(from);
    job->DestPin = toCp1252(to);
    job->Subject = kSubject;
    job->SendType = 1;
    job->TimeOut = kMailTimeOutSeconds;
    job->UseSSL = false;
    for (const QString& line : msg) job->MsgToSend += toCp1252(line) + "\r\n";

    InetPagingOptions options = m_mailOptions;
    options.cancel = m_job.cancelFlag();
    auto ok = std::make_shared<bool>(false);
    m_job.start(
        [job, ok, options] {
            try {
                *ok = TKORInetPagingComp(options).SendMailMessage(*job);
            } catch (const std::exception& e) {
                *ok = false;
                job->SendError = std::string(e.what()).substr(0, kExceptionTextLength);
            }
        },
        [this, job, ok] {
            if (!*ok) {
                QString text = kSendErrorPrefix + fromCp1252(job->SendError);
                m_ctx.ui.errorBox(text.left(kSendErrorDialogLength));
            }
            emit mailFinished(*ok);
        });
    return true;
}

}  // namespace nv
