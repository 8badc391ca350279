#pragma once
// "Route Details": one route of NpaNxxRoute.dat, checked before the dialog closes.
#include <QDialog>
#include <QStringList>

#include "foundation/Records.h"
#include "manager/ManagerContext.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace nv {

class TRouteDetailsFrm : public QDialog {
    Q_OBJECT
public:
    static constexpr int kHelpContext = 111;

    // `providerNames`: the live providers of Provider.dat in file order;
    // `emailEnabled` adds "E-Page" to both lists.
    TRouteDetailsFrm(ManagerContext& ctx, const QStringList& providerNames, bool emailEnabled,
                     QWidget* parent = nullptr);

    // A new route on an empty table: it is the default route.
    void forceDefault();
    // Edits `rec` (sets Edit); its FilePos excludes it from the conflict checks.
    void loadRoute(const RouteRec& rec);
    // The controls into `rec` (every field the dialog edits).
    void storeInto(RouteRec& rec) const;

    bool Edit = false;

private:
    void BitBtn1Click();
    bool checkBlanks();
    bool checkAddress(QLineEdit* edit, bool fullAddress);
    bool checkConflicts();
    static void selectProvider(QComboBox* box, const QString& name);

    ManagerContext& m_ctx;
    std::int32_t m_filePos = -1;
    QString m_storedName;
    QString m_storedPrefix;
    QLineEdit* m_name;
    QLineEdit* m_prefix;
    QComboBox* m_provider;
    QComboBox* m_secProvider;
    QLineEdit* m_eddr;
    QLineEdit* m_secEddr;
    QCheckBox* m_enabled;
    QCheckBox* m_removePrefix;
    QCheckBox* m_pinInSubPri;
    QCheckBox* m_pinInSubSec;
};

}  // namespace nv
