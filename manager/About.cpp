#include "manager/About.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "manager/Help.h"

namespace nv {

namespace {

// No maker's mail or web address is configured for this build: both links
// open the operator's guide at its contact section.
constexpr int kHelpContact = 13;
const char* const kContactLink = "<a href=\"guide\">Operator's guide</a>";

QLabel* linkLabel(const QString& hint, QWidget* parent) {
    auto* l = new QLabel(kContactLink, parent);
    l->setToolTip(hint);
    l->setTextFormat(Qt::RichText);
    l->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    return l;
}

}  // namespace

TAboutBox::TAboutBox(ManagerContext& ctx, const QString& versionText, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_ctx(ctx) {
    setWindowTitle("About Pelmora Gateway");
    auto* outer = new QVBoxLayout(this);
    outer->setSizeConstraint(QLayout::SetFixedSize);

    auto* panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* pl = new QVBoxLayout(panel);
    auto* banner = new QLabel("Neri Vale", panel);
    QFont bf("Serif", 24, QFont::Bold);
    bf.setStyleHint(QFont::Serif);
    banner->setFont(bf);
    banner->setStyleSheet("color: navy;");
    banner->setAlignment(Qt::AlignCenter);
    pl->addWidget(banner);
    Version1 = new QLabel(versionText, panel);
    Version1->setObjectName("Version1");
    QFont vf = Version1->font();
    vf.setBold(true);
    Version1->setFont(vf);
    Version1->setAlignment(Qt::AlignCenter);
    pl->addWidget(Version1);
    auto* maker = new QLabel("KOR", panel);
    maker->setAlignment(Qt::AlignCenter);
    pl->addWidget(maker);

    auto* contact = new QGroupBox("Contact Information", panel);
    auto* form = new QFormLayout(contact);
    Label1 = linkLabel("Click To Send E-Mail", contact);
    Label2 = linkLabel("Click To Go To Web Site", contact);
    form->addRow("E-Mail:", Label1);
    form->addRow("Web:", Label2);
    connect(Label1, &QLabel::linkActivated, this, &TAboutBox::openContact);
    connect(Label2, &QLabel::linkActivated, this, &TAboutBox::openContact);
    pl->addWidget(contact);
    outer->addWidget(panel);

    OKButton = new QPushButton("&OK", this);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(OKButton);
    row->addStretch(1);
    outer->addLayout(row);
}

void TAboutBox::openContact() { showHelp(m_ctx.ui, m_ctx.appDir, kHelpContact); }

}  // namespace nv
