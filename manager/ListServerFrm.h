#pragma once
// "KOR Carrier List Server": picks a carrier and one of its service locations
// from the carrier list server and adds that carrier's settings to
// Provider.dat. Both requests run on a worker thread; their progress shows in
// a "Status" window (`TTimedMsgFrm`) and the window stays responsive.
#include <QDialog>
#include <QStringList>
#include <atomic>
#include <memory>
#include <string>

#include "manager/ManagerContext.h"
#include "manager/WorkerJob.h"
#include "protocols/HttpGet.h"

class QComboBox;
class QListWidget;
class QPushButton;

namespace nv {

class TTimedMsgFrm;

class TListServerFrm : public QDialog {
    Q_OBJECT
public:
    // `serverUrl`: the list server's base URL (http:// or https://).
    TListServerFrm(ManagerContext& ctx, QString serverUrl, HttpGetOptions http, QWidget* parent = nullptr);
    ~TListServerFrm() override;

    void FormShow();          // fetches the carrier list
    void ServiceTypeChange();  // fills the locations of the chosen carrier
    void BitBtn1Click();       // "&Add"
    bool busy() const { return m_job.busy(); }
    const HttpGetOptions& httpOptions() const { return m_http; }
    // The progress window; it lives as long as this window, once shown.
    TTimedMsgFrm* progressWindow() const { return tMsgFrm; }

    // The carrier name of a list line: the text before the first " - ", trimmed.
    static QString carrierOfLine(const QString& line);

signals:
    // After each reply (or failure) has been handled.
    void requestFinished();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Reply;
    void get(const QString& query, void (TListServerFrm::*handler)(const HttpGetResult&));
    void showStep(HttpGetStep step, int percent);
    void listArrived(const HttpGetResult& reply);
    void recordArrived(const HttpGetResult& reply);
    void importRecord(const QStringList& lines);
    void setButtonsEnabled(bool on);
    void failed(const HttpGetResult& reply);
    void showProgress(const QString& message);

    ManagerContext& m_ctx;
    QString m_serverUrl;
    HttpGetOptions m_http;
    bool m_shown = false;
    QStringList DataList;
    QComboBox* Carrier;
    QComboBox* ServiceType;
    QListWidget* ServiceLocation;
    QPushButton* m_add;
    QPushButton* m_done;
    QPushButton* m_help;
    TTimedMsgFrm* tMsgFrm = nullptr;
    WorkerJob m_job{this};  // last: it ends before anything it uses
};

}  // namespace nv
