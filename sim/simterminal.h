#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

// The simulated terminal's state and what it makes of each frame. Its answers are its own
// short text lines ending in CR LF, not those of any real terminal:
//   information ("@S"):  TARIH dd.MM.yyyy / SAAT hh:mm:ss / GUN n (Monday 1 .. Sunday 7) /
//                        FIRMA name / SAYAC nnnn / MESAJ text, one line each;
//   card counter ("@K"): SAYAC nnnn.
// Its clock runs from the computer's, moved by the date and time frames.
class SimTerminal
{
public:
    static constexpr int counterLimit = 10000;

    struct Reply
    {
        QByteArray answer; // what goes back on the line; often nothing
        QString note;      // what the frame meant, for the log
    };

    Reply handle(const QByteArray &frame, const QDateTime &hostNow);

    QDateTime clock(const QDateTime &hostNow) const { return hostNow.addMSecs(m_offsetMs); }
    int counter() const { return m_counter; }
    QByteArray companyName() const { return m_companyName; }
    QByteArray message() const { return m_message; }

private:
    Reply takeDate(const QByteArray &frame, const QDateTime &hostNow);
    Reply takeTime(const QByteArray &frame, const QDateTime &hostNow);
    Reply assignCounter(const QByteArray &value);
    Reply countCard(const QString &what);
    QByteArray information(const QDateTime &hostNow) const;
    QByteArray counterLine() const;

    qint64 m_offsetMs = 0;
    int m_counter = 0;
    QByteArray m_companyName;
    QByteArray m_message;
    bool m_messageLoaded = false;
};
