#include "soak.h"

#include "harness.h"
#include "linesettings.h"
#include "receiveconsole.h"
#include "settingsfile.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <sys/stat.h>

using namespace std::chrono_literals;

namespace soak {

struct HostileFile
{
    const char *name;
    std::function<void(const QString &path)> make;
    // The baud rate text the console must show; a null string for "9600 if the file can be read, else 4800".
    QString baudRate;
};

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

QString readableOr4800(const QString &path, const QString &value)
{
    return ::access(QFile::encodeName(path).constData(), R_OK) == 0 ? value : QStringLiteral("4800");
}

// Settings files no one meant to write: each opens the main window, whose first console line
// must name 4800 or the file's line as it stands, and which must either run or say why not.
int settings()
{
    Tally tally;
    const QByteArray hugeLine(100 * 1024 * 1024, '9');
    const std::vector<HostileFile> files = {
        {"random binary", [](const QString &p) { writeBytes(p, randomBytes(4096, 7)); },
         settingsfile::baudRateText(randomBytes(4096, 7)).value_or(QStringLiteral("4800"))},
        {"100 MB line", [&](const QString &p) { writeBytes(p, hugeLine); }, QStringLiteral("4800")},
        {"NUL bytes",
         [](const QString &p) {
             writeBytes(p, QByteArray("96\0\0"
                                      "00\r\n",
                                      8));
         },
         QString::fromLatin1("96\0\0"
                             "00",
                             6)},
        {"a directory", [](const QString &p) { QDir().mkpath(p); }, QStringLiteral("4800")},
        {"no read permission",
         [](const QString &p) {
             writeBytes(p, "9600\r\n");
             ::chmod(QFile::encodeName(p).constData(), 0);
         },
         QString()},
        {"CR only", [](const QString &p) { writeBytes(p, "1200\r2400\r"); }, QStringLiteral("2400")},
        {"very long second line", [](const QString &p) { writeBytes(p, "1200\r\n" + QByteArray(5000, '9') + "\r\n"); },
         QString(5000, u'9')},
        {"empty", [](const QString &p) { writeBytes(p, QByteArray()); }, QStringLiteral("4800")},
        {"UTF-16 text",
         [](const QString &p) {
             writeBytes(p, QByteArray("9\0"
                                      "6\0"
                                      "0\0"
                                      "0\0",
                                      8));
         },
         QString::fromLatin1("9\0"
                             "6\0"
                             "0\0"
                             "0\0",
                             8)},
        {"UTF-8 mark",
         [](const QString &p) {
             writeBytes(p, "\xEF\xBB\xBF"
                           "9600\r\n");
         },
         QStringLiteral("\u00EF\u00BB\u00BF9600")},
        {"link to /dev/zero", [](const QString &p) { QFile::link(QStringLiteral("/dev/zero"), p); }, QStringLiteral("4800")},
        {"link to itself", [](const QString &p) { QFile::link(p, p); }, QStringLiteral("4800")},
        {"dangling link", [](const QString &p) { QFile::link(p + QStringLiteral(".gone"), p); }, QStringLiteral("4800")},
        {"named pipe", [](const QString &p) { ::mkfifo(QFile::encodeName(p).constData(), 0644); }, QStringLiteral("4800")},
        {"two lines then 50 MB",
         [&](const QString &p) { writeBytes(p, "9600\r\n19200\r\n" + hugeLine.first(50 * 1024 * 1024)); },
         QStringLiteral("19200")},
        {"blank lines only", [](const QString &p) { writeBytes(p, "\r\n\r\n"); }, QString::fromLatin1("")},
        {"high bytes", [](const QString &p) { writeBytes(p, "\xFF\xFE\xFD\r\n"); }, QStringLiteral("\u00FF\u015F\u0131")},
        {"tabs around", [](const QString &p) { writeBytes(p, "\t9600\t\r\n"); }, QStringLiteral("\t9600\t")},
        {"a whole settings line", [](const QString &p) { writeBytes(p, "9600,n,8,1\r\n"); }, QStringLiteral("9600,n,8,1")},
        {"overflowing number", [](const QString &p) { writeBytes(p, "99999999999\r\n"); }, QStringLiteral("99999999999")},
        {"one baud", [](const QString &p) { writeBytes(p, "1\r\n"); }, QStringLiteral("1")},
        {"four million baud", [](const QString &p) { writeBytes(p, "4000000\r\n"); }, QStringLiteral("4000000")},
        {"longest line", [](const QString &p) { writeBytes(p, QByteArray(settingsfile::maxLineLength, '1') + "\r\n"); },
         QString(settingsfile::maxLineLength, u'1')},
    };

    for (const HostileFile &file : files) {
        removeSettingsFile();
        const QString path = settingsPath();
        file.make(path);
        const QString baudRate = file.baudRate.isNull() ? readableOr4800(path, QStringLiteral("9600")) : file.baudRate;

        MessageBoxCatcher catcher;
        Pty far;
        far.linkAs(programDir(), 6);
        Module1 module;
        module.programDir = programDir();
        module.SelectedPort = 6;
        QPointer<Form1> form = new Form1(module);
        form->load();
        form->show();
        const QString firstLine = form->console->text().section(u'\n', 0, 0);
        tally.check(firstLine == QStringLiteral("Baud Rate : ") + baudRate + u'\r',
                    QStringLiteral("%1: first console line %2").arg(QLatin1String(file.name), firstLine.left(80)));
        const bool opened = form->link().port().isOpen();
        // A baud rate text that makes no settings string is refused before the port is touched.
        const bool usable = parseLineSettings(baudRate + QStringLiteral(",n,8,1")).has_value();
        tally.check(opened == usable,
                    QStringLiteral("%1: port %2").arg(QLatin1String(file.name), opened ? "open" : "closed"));
        if (opened) {
            tally.check(far.waitForRawMode(), QStringLiteral("%1: raw line").arg(QLatin1String(file.name)));
            // The far end names the standard rates only; any other is checked by opening alone.
            const int rate = baudRate.trimmed().toInt();
            const QList<int> standardRates = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
            tally.check(!standardRates.contains(rate) || far.baudRate() == rate,
                        QStringLiteral("%1: line at %2 baud").arg(QLatin1String(file.name)).arg(far.baudRate()));
            form->close();
        } else {
            waitUntil([&] { return gone(form); }, 5s);
            tally.check(catcher.texts == QStringList{QStringLiteral("PORT Hatası 380")},
                        QStringLiteral("%1: message %2").arg(QLatin1String(file.name), catcher.texts.join(u'|')));
            tally.check(form.isNull(),
                        QStringLiteral("%1: main window gone after the failure").arg(QLatin1String(file.name)));
        }
        std::printf("settings file \"%s\": console shows \"Baud Rate : %s\", port %s\n", file.name,
                    qPrintable(baudRate.left(20) + (baudRate.size() > 20 ? QStringLiteral("...") : QString())),
                    opened ? "open" : "refused (380)");
        closePortWindows();
    }
    removeSettingsFile();
    return tally.finish("settings");
}

// Keeps COM<port> open for a while, as another program on the same adapter would.
int holdPort(int port, int milliseconds)
{
    PortLink link(programDir());
    try {
        link.open(QStringLiteral("4800"), quint8(port));
    } catch (const CommError &failure) {
        std::printf("hold failed %d\n", failure.number());
        return 1;
    }
    std::printf("holding\n");
    std::fflush(stdout);
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
    return 0;
}

int twoInstances()
{
    Tally tally;
    removeSettingsFile();
    Form1Harness first(7);
    tally.check(first.form->link().port().isOpen(), QStringLiteral("first window opens COM7"));

    {
        MessageBoxCatcher catcher;
        Module1 module = first.module;
        QPointer<Form1> second = new Form1(module);
        second->load();
        second->show();
        tally.check(catcher.texts == QStringList{QStringLiteral("PORT Hatası 8005")},
                    QStringLiteral("second window: %1").arg(catcher.texts.join(u'|')));
        waitUntil([&] { return gone(second); }, 5s);
        tally.check(second.isNull(), QStringLiteral("second window returns to the port window"));
        closePortWindows();
    }
    {
        PortLink second(programDir());
        int number = 0;
        try {
            second.open(QStringLiteral("4800"), 7);
        } catch (const CommError &failure) {
            number = failure.number();
        }
        tally.check(number == commerror::PortInUse, QStringLiteral("second link: error %1").arg(number));
    }
    // The first keeps its line after the refused attempts.
    first.click(first.form->accessButton);
    tally.compareStream("@A", first.far.read(2), false, QStringLiteral("first window still sends"));
    first.form->close();
    QCoreApplication::processEvents();

    // Another process holds the port: this one must be refused the same way.
    Pty far;
    far.linkAs(programDir(), 7);
    QProcess holder;
    holder.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("hold"), QStringLiteral("7"), QStringLiteral("3000")});
    tally.check(holder.waitForReadyRead(10000) && holder.readLine().startsWith("holding"),
                QStringLiteral("other process holds COM7"));
    PortLink mine(programDir());
    int number = 0;
    try {
        mine.open(QStringLiteral("4800"), 7);
    } catch (const CommError &failure) {
        number = failure.number();
    }
    tally.check(number == commerror::PortInUse, QStringLiteral("port held by another process: error %1").arg(number));
    holder.waitForFinished(10000);
    tally.check(holder.exitStatus() == QProcess::NormalExit && holder.exitCode() == 0,
                QStringLiteral("holding process ended cleanly: %1")
                    .arg(QString::fromLocal8Bit(holder.readAllStandardError()).left(400)));
    std::printf("two instances: second window and second link refused with %d, another process too\n", number);
    return tally.finish("twoinstances");
}

struct HostilePort
{
    const char *name;
    // Makes COM13 beside the program; an empty function leaves it absent.
    std::function<void(const QString &link)> make;
};

// Ports that are not what they should be: the adapter unplugged, the link aimed at the wrong
// thing. Each opening must fail with a message and return to the port window, never hang.
int ports()
{
    Tally tally;
    removeSettingsFile();
    const QString link = QDir(programDir()).filePath(QStringLiteral("COM13"));
    const QString target = QDir(programDir()).filePath(QStringLiteral("not-a-port"));
    const std::vector<HostilePort> cases = {
        {"absent", {}},
        {"unplugged adapter (dangling link)", [&](const QString &l) { QFile::link(target, l); }},
        {"regular file",
         [&](const QString &l) {
             writeBytes(target, "9600\r\n");
             QFile::link(target, l);
         }},
        {"/dev/null", [](const QString &l) { QFile::link(QStringLiteral("/dev/null"), l); }},
        {"directory",
         [&](const QString &l) {
             QDir().mkpath(target);
             QFile::link(target, l);
         }},
        {"named pipe",
         [&](const QString &l) {
             ::mkfifo(QFile::encodeName(target).constData(), 0644);
             QFile::link(target, l);
         }},
        {"link to itself", [](const QString &l) { QFile::link(l, l); }},
    };
    for (const HostilePort &port : cases) {
        QFile::remove(link);
        QFile::remove(target);
        QDir(target).removeRecursively();
        if (port.make)
            port.make(link);
        MessageBoxCatcher catcher;
        Module1 module;
        module.programDir = programDir();
        module.SelectedPort = 13;
        QPointer<Form1> form = new Form1(module);
        form->load();
        form->show();
        const bool opened = form->link().port().isOpen();
        tally.check(!opened, QStringLiteral("%1: opened").arg(QLatin1String(port.name)));
        waitUntil([&] { return gone(form); }, 5s);
        tally.check(form.isNull(), QStringLiteral("%1: main window still there").arg(QLatin1String(port.name)));
        tally.check(catcher.texts.size() == 1 && catcher.texts.value(0).startsWith(QStringLiteral("PORT Hatası 80")),
                    QStringLiteral("%1: messages %2").arg(QLatin1String(port.name), catcher.texts.join(u'|')));
        if (form)
            form->close();
        closePortWindows();
        std::printf("port \"%s\": %s\n", port.name, qPrintable(catcher.texts.join(u'|')));
    }
    QFile::remove(link);
    QFile::remove(target);
    QDir(target).removeRecursively();
    return tally.finish("ports");
}

} // namespace soak
