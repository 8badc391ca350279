#pragma once
// "Carrier Contact Information": a provider's contact data, mail and web links
// for it, and the carrier-update mail (SendSMTP) that the provider editor's
// "Submit To KOR" sends. The mail leaves on a worker thread; the window stays
// responsive and reports the end by mailFinished.
#include <QDialog>
#include <QStringList>
#include <atomic>
#include <memory>

#include "foundation/Records.h"
#include "manager/ManagerContext.h"
#include "manager/WorkerJob.h"
#include "protocols/KORInetPaging.h"

class QFormLayout;
class QLineEdit;
class QPushButton;

namespace nv {

class TCarrierContactInfoFrm : public QDialog {
    Q_OBJECT
public:
    TCarrierContactInfoFrm(ManagerContext& ctx, QWidget* parent = nullptr);
    ~TCarrierContactInfoFrm() override;

    void loadFrom(const ProviderRec& rec);
    void saveTo(ProviderRec& rec) const;

    // Appends the ten contact lines to `msg` and mails it from `from` to `to`
    // (the recipient domain's mail exchangers, port 25). False when a send is
    // already running; the result arrives by mailFinished, after the error
    // dialog when it failed.
    bool SendSMTP(QStringList msg, const QString& from, const QString& to);
    bool sending() const { return m_job.busy(); }
    // Tests point the mail at loopback peers.
    void setMailOptions(InetPagingOptions options) { m_mailOptions = std::move(options); }

    // Enables the mail and web buttons by their fields' texts.
    void FormShow();

signals:
    void mailFinished(bool ok);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* addField(QFormLayout* form, const char* name, const char* caption, int capacity);
    void openMail(const QLineEdit* field);
    void GoToWebClick();

    ManagerContext& m_ctx;
    QLineEdit* m_carrierName;
    QLineEdit* m_contact;
    QLineEdit* m_address;
    QLineEdit* m_city;
    QLineEdit* m_state;
    QLineEdit* m_zip;
    QLineEdit* m_phone;
    QLineEdit* m_salesEMail;
    QLineEdit* m_supportEMail;
    QLineEdit* m_webSite;
    QPushButton* m_sendSales;
    QPushButton* m_sendSupport;
    QPushButton* m_goToWeb;
    InetPagingOptions m_mailOptions;
    WorkerJob m_job{this};  // last: it ends before anything it uses
};

// The checks behind the buttons and the links they open.
bool isMailButtonText(const QString& text);  // holds "@" and "."
bool isWebButtonText(const QString& text);   // holds "http://" or "https://", and "."
// mailto: with the address percent-encoded; empty when it is not one address.
QUrl mailtoUrl(const QString& address);
// The text as an http or https URL with a host; empty otherwise.
QUrl webUrl(const QString& text);

}  // namespace nv
