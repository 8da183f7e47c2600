#include "soak.h"

#include "codepage.h"
#include "form0.h"
#include "receiveconsole.h"
#include "settingsfile.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTimer>

#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace std::chrono_literals;

#if defined(__SANITIZE_ADDRESS__)
// Freed blocks wait in the sanitizer's quarantine, so only its own count tells what is live.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace soak {

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / qsizetype(sizeof(quint32)));
    return bytes;
}

QByteArray consoleBytes(const Form1 &form, const QString &baudLine)
{
    const QString text = form.console->text();
    return codepage::fromUnicode(QStringView(text).sliced(std::min(baudLine.size(), text.size())));
}

QString programDir()
{
    return QCoreApplication::applicationDirPath();
}

QString settingsPath()
{
    return QDir(programDir()).filePath(QLatin1String(settingsfile::fileName));
}

void removeSettingsFile()
{
    const QString path = settingsPath();
    ::chmod(QFile::encodeName(path).constData(), 0644);
    if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
}

std::chrono::microseconds processorTime()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto micros = [](const timeval &t) {
        return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
    };
    return micros(usage.ru_utime) + micros(usage.ru_stime);
}

double loopLoad(std::chrono::milliseconds span)
{
    const auto before = processorTime();
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
    return double((processorTime() - before).count()) / double(std::chrono::microseconds(span).count());
}

bool gone(const QPointer<Form1> &form)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return form.isNull();
}

qint64 liveHeap()
{
#if defined(__SANITIZE_ADDRESS__)
    return qint64(__sanitizer_get_current_allocated_bytes());
#else
    return qint64(mallinfo2().uordblks);
#endif
}

void closePortWindows()
{
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (qobject_cast<Form0 *>(w) && w->isVisible())
            w->close();
    }
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void streamThenHangUp(Tally &tally, Pty &far, const QByteArray &data, const QByteArray &polled,
                      const std::function<bool()> &portOpen, const std::function<void()> &midStream, const QString &cycle,
                      StreamFigures &figures)
{
    tally.check(isOpen(), cycle + QStringLiteral(": port open"));
    const qsizetype confirmed = data.size() * 3 / 4;
    far.write(data.first(confirmed));
    waitUntil([&] { return polled.size() >= confirmed; }, 120s);
    tally.compareStream(data.first(confirmed), polled, false, cycle + QStringLiteral(": polled before hang-up"));
    midStream();
    far.write(data.sliced(confirmed));
    far.hangUp();
    tally.check(waitUntil([&] { return !isOpen(); }, 5s), cycle + QStringLiteral(": port closed after the far end went"));
    QCoreApplication::processEvents();
    tally.compareStream(data, polled, true, cycle + QStringLiteral(": polled after hang-up"));
    figures.sent += data.size();
    figures.received += polled.size();
    figures.cutAtHangUp += data.size() - polled.size();
}

} // namespace soak
