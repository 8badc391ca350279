// ZQTester: sends a message to a serial paging encoder for each listed
// recipient and shows the encoder's answers.
#include <QApplication>

#include "manager/OperatorUi.h"
#include "tester/BrevicorTestForm.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Nerivale Tester"));
    nv::QtOperatorUi ui;
    nv::TForm1 form(ui, {nv::testerDataDirectory()});
    form.show();
    return QApplication::exec();
}
