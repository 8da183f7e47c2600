#include "caption.h"
#include "commandline.h"
#include "designfonts.h"
#include "drainwindow.h"
#include "endsignals.h"
#include "form0.h"
#include "module1.h"
#include "toolkitlanguage.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const commandline::Request request = commandline::request(arguments); request != commandline::Request::Run) {
        // Answered without a display: --help must work over ssh and in a text console.
        QCoreApplication core(argc, argv);
        const QString text = request == commandline::Request::Help
                                 ? commandline::helpText(QCoreApplication::applicationDirPath())
                                 : commandline::versionText();
        std::fputs(text.toLocal8Bit().constData(), stdout);
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("com.vexla.TerminalKontrol"));
    QApplication::setApplicationVersion(QStringLiteral("%1.%2").arg(versionMajor).arg(versionMinor));
    // Lets the desktop match the windows to the menu entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.vexla.TerminalKontrol"));
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
