#include "buildinfo.h"
#include "designfonts.h"
#include "drainwindow.h"
#include "endsignals.h"
#include "form0.h"
#include "module1.h"
#include "programoptions.h"
#include "toolkitlanguage.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const programoptions::Request request = programoptions::request(arguments);
        request != programoptions::Request::Run) {
        // Answered without a display: --help must work over ssh and in a text console.
        QCoreApplication core(argc, argv);
        const QString text = request == programoptions::Request::Help
                                 ? programoptions::helpText(QCoreApplication::applicationDirPath())
                                 : programoptions::versionText();
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QLatin1String(applicationId));
    QApplication::setApplicationVersion(QLatin1String(programVersion));
    // Lets the desktop match the windows to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QLatin1String(applicationId));
    designfonts::install();
    installToolkitLanguage(QLocale::system());
    closePortsAtEveryEnd();

    Module1 module;
    module.programDir = QApplication::applicationDirPath();
    (new Form0(module))->show();
    // The program ends when its last window closes, once what it sent has reached the line.
    const int status = app.exec();
    finishSending();
    return status;
}
