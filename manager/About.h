#pragma once
// "About Pelmora Gateway": the product, the version and where to find help.
// Shown modally from a stack object; the caller is its one owner.
#include <QDialog>

#include "manager/ManagerContext.h"

class QLabel;
class QPushButton;

namespace nv {

class TAboutBox : public QDialog {
    Q_OBJECT
public:
    // `versionText`: "Version " followed by the program's version.
    TAboutBox(ManagerContext& ctx, const QString& versionText, QWidget* parent = nullptr);

    QLabel* Version1 = nullptr;
    QLabel* Label1 = nullptr;  // the mail link
    QLabel* Label2 = nullptr;  // the web link
    QPushButton* OKButton = nullptr;

private:
    void openContact();
    ManagerContext& m_ctx;
};

}  // namespace nv
