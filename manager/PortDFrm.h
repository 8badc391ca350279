#pragma once
// "TAP/TNPP Port Data": one outbound port of Ports.dat: a modem line, the
// direct serial connection to one provider, or a TNPP connection.
#include <QDialog>
#include <optional>
#include <vector>

#include "foundation/Records.h"
#include "manager/KORTapi.h"
#include "manager/ManagerContext.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QTabWidget;

namespace nv {

inline constexpr const char* kDirectConnection = "Direct Connection";
inline constexpr const char* kTnppConnection = "TNPP Connection";
// The name under which files of older versions hold TNPP connections.
inline constexpr const char* kTnppPortOld = "TNPP Port";

enum class PortKind { Modem, Direct, Tnpp };
// The kind of a stored port, by its device name.
PortKind portKindOf(const PortRec& rec);

class TPortDataForm : public QDialog {
    Q_OBJECT
public:
    static constexpr int kHelpContext = 30;

    // `lines`: the modem lines (nothing when they could not be read); the two
    // built-in entries follow them.
    TPortDataForm(ManagerContext& ctx, const std::optional<std::vector<LineDevice>>& lines,
                  QWidget* parent = nullptr);

    // The preselections of a new port.
    void prepareAdd();
    // Edits `rec`; its FilePos excludes it from the duplicate checks.
    void loadPort(const PortRec& rec);
    // Every field the editor sets into `rec`.
    void storeInto(PortRec& rec) const;

    QTabWidget* PageControl() const { return m_tabs; }

private:
    struct TnppEdit {
        const char* name;
        const char* caption;
        const char* initial;
        QLineEdit* edit = nullptr;
    };

    QWidget* buildGeneral();
    QWidget* buildStats();
    QWidget* buildTnpp();
    QLineEdit* tnpp(const char* name) const;
    void ModemChange();
    void OKButClick();
    void BitBtn4Click();
    bool checkTnpp();
    bool checkDuplicates();
    bool refuse(QWidget* focus, const QString& message, bool tnppTab = false);
    PortKind chosenKind() const;
    std::int16_t chosenDevice() const;

    ManagerContext& m_ctx;
    std::int32_t m_filePos = -1;
    QTabWidget* m_tabs;
    QLineEdit* m_name;
    QComboBox* m_modem;
    QCheckBox* m_enabled;
    QLineEdit* m_dialPrefix;
    QComboBox* m_group;
    QLabel* m_groupLabel;
    QGroupBox* m_direct;
    QComboBox* m_comPort;
    QComboBox* m_comData;
    QComboBox* m_comSpeed;
    QComboBox* m_comFlow;
    QComboBox* m_tnppCom;
    QComboBox* m_tnppSettings;
    QComboBox* m_tnppHandShake;
    QComboBox* m_tnppSpeed;
    QCheckBox* m_stxInit;
    QCheckBox* m_transparentCrc;
    std::vector<TnppEdit> m_tnppEdits;
};

}  // namespace nv
