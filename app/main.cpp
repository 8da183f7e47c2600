#include "designfonts.h"
#include "form0.h"
#include "module1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("terminal-kontrol"));
    designfonts::install();

    Module1 module;
    module.programDir = QApplication::applicationDirPath();
    (new Form0(module))->show();
    // The program ends when its last window closes.
    return app.exec();
}
