#pragma once
// The modem settings dialog: edits one .mcf file (speed, framing, flow control,
// extra init, tone/pulse, blind dial, dial time-out). Serves the port editor and
// the provider editor.
#include <QDialog>
#include <filesystem>

#include "manager/ManagerContext.h"
#include "platform/ModemLine.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;

namespace nv {

class ModemSettingsDlg : public QDialog {
    Q_OBJECT
public:
    ModemSettingsDlg(ManagerContext& ctx, const std::filesystem::path& mcfFile, QWidget* parent = nullptr);

    void setSettings(const ModemSettings& s);
    ModemSettings settings() const;

private:
    void okClick();

    ManagerContext& m_ctx;
    std::filesystem::path m_file;
    QComboBox* m_speed;
    QComboBox* m_dataBits;
    QComboBox* m_parity;
    QComboBox* m_stopBits;
    QComboBox* m_flow;
    QLineEdit* m_extraInit;
    QComboBox* m_dial;
    QCheckBox* m_blindDial;
    QSpinBox* m_dialTimeout;
};

// Opens on the values stored in `mcfFile` (defaults when it does not exist or
// holds no configuration of ours); OK writes the file atomically and returns
// true; Cancel leaves it untouched and returns false. A failed write is shown
// to the operator ("Unable To Save Modem Config Settings!") and returns false.
bool editModemSettings(QWidget* parent, ManagerContext& ctx, const std::filesystem::path& mcfFile);

}  // namespace nv
