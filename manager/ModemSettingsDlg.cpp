#include "manager/ModemSettingsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QVBoxLayout>

#include "manager/FormWidgets.h"
#include "manager/QtText.h"
#include "protocols/ModemConfig.h"

namespace nv {

namespace {

const int kSpeeds[] = {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
const char kParities[] = {'N', 'O', 'E', 'M', 'S'};
const ModemFlow kFlows[] = {ModemFlow::None, ModemFlow::RtsCts, ModemFlow::XonXoff, ModemFlow::Both};
// The modem's own init commands come first; this is added to them, one AT line.
constexpr int kMaxExtraInit = 60;
constexpr int kMaxDialTimeout = 255;  // S7 holds one byte

}  // namespace

ModemSettingsDlg::ModemSettingsDlg(ManagerContext& ctx, const std::filesystem::path& mcfFile, QWidget* parent)
    : QDialog(parent), m_ctx(ctx), m_file(mcfFile) {
    setWindowTitle("Modem Settings - " + QString::fromStdString(mcfFile.stem().string()));
    QStringList speeds;
    for (int s : kSpeeds) speeds << QString::number(s);
    m_speed = namedList("Speed", speeds);
    m_dataBits = namedList("DataBits", {"5", "6", "7", "8"});
    m_parity = namedList("Parity", {"None", "Odd", "Even", "Mark", "Space"});
    m_stopBits = namedList("StopBits", {"1", "2"});
    m_flow = namedList("Flow", {"None", "Hardware (RTS/CTS)", "Software (Xon/Xoff)", "Both"});
    m_extraInit = new QLineEdit;
    m_extraInit->setObjectName("ExtraInit");
    m_extraInit->setMaxLength(kMaxExtraInit);
    // One line of printable characters: the file keeps it on one line.
    m_extraInit->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[\\x20-\\x7E]*"), m_extraInit));
    m_dial = namedList("Dial", {"Tone", "Pulse"});
    m_blindDial = new QCheckBox("Dial Without Waiting For Dial Tone");
    m_blindDial->setObjectName("BlindDial");
    m_dialTimeout = new QSpinBox;
    m_dialTimeout->setObjectName("DialTimeout");
    m_dialTimeout->setRange(0, kMaxDialTimeout);
    m_dialTimeout->setSpecialValueText("Modem Default");

    auto* form = new QFormLayout;
    form->addRow("Port &Speed:", m_speed);
    form->addRow("&Data Bits:", m_dataBits);
    form->addRow("&Parity:", m_parity);
    form->addRow("S&top Bits:", m_stopBits);
    form->addRow("&Flow Control:", m_flow);
    form->addRow("E&xtra Initialization:", m_extraInit);
    form->addRow("Dia&l Method:", m_dial);
    form->addRow("", m_blindDial);
    form->addRow("&Wait For Carrier (Seconds):", m_dialTimeout);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("OKBut");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("CancelBut");
    connect(buttons, &QDialogButtonBox::accepted, this, &ModemSettingsDlg::okClick);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(buttons);

    setSettings(readModemConfigFile(mcfFile).value_or(ModemSettings{}));
}

void ModemSettingsDlg::setSettings(const ModemSettings& s) {
    // A speed outside the list (a hand-made file) is offered as it is.
    const QString speed = QString::number(s.speed);
    if (m_speed->findText(speed) < 0) m_speed->addItem(speed);
    m_speed->setCurrentText(speed);
    m_dataBits->setCurrentText(QString::number(s.dataBits));
    for (int i = 0; i < 5; ++i)
        if (kParities[i] == s.parity) m_parity->setCurrentIndex(i);
    m_stopBits->setCurrentText(QString::number(s.stopBits));
    for (int i = 0; i < 4; ++i)
        if (kFlows[i] == s.flow) m_flow->setCurrentIndex(i);
    m_extraInit->setText(fromCp1252(s.extraInit));
    m_dial->setCurrentIndex(s.pulseDial ? 1 : 0);
    m_blindDial->setChecked(s.blindDial);
    m_dialTimeout->setValue(s.dialTimeout);
}

ModemSettings ModemSettingsDlg::settings() const {
    ModemSettings s;
    s.speed = m_speed->currentText().toInt();
    s.dataBits = m_dataBits->currentText().toInt();
    s.parity = kParities[m_parity->currentIndex()];
    s.stopBits = m_stopBits->currentText().toInt();
    s.flow = kFlows[m_flow->currentIndex()];
    s.extraInit = toCp1252(m_extraInit->text().trimmed());
    s.pulseDial = m_dial->currentIndex() == 1;
    s.blindDial = m_blindDial->isChecked();
    s.dialTimeout = m_dialTimeout->value();
    return s;
}

void ModemSettingsDlg::okClick() {
    if (!writeModemConfigFile(m_file, settings())) {
        m_ctx.ui.beep(BeepKind::Error);
        m_ctx.ui.errorBox("Unable To Save Modem Config Settings!");
        return;
    }
    accept();
}

bool editModemSettings(QWidget* parent, ManagerContext& ctx, const std::filesystem::path& mcfFile) {
    QPointer<ModemSettingsDlg> dlg = new ModemSettingsDlg(ctx, mcfFile, parent);
    const bool ok = dlg->exec() == QDialog::Accepted;
    delete dlg;
    return ok;
}

}  // namespace nv
