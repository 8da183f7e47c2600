#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// Cuts what arrives on the line into the terminal's frames. Most frames have a fixed length
// or an end byte; the company name, a free command and a bare card number have neither, so
// they end when the line goes quiet or the next "@" comes (so an "@" inside them cuts them).
// Every byte lands in exactly one frame, in order.
class FrameReader
{
public:
    // No frame of the program is longer; a run of bytes without an end is cut here.
    static constexpr qsizetype maxFrameLength = 256;

    QList<QByteArray> feed(QByteArrayView bytes);
    // The line went quiet: whatever waits is a frame of its own.
    QList<QByteArray> quiet();
    bool waiting() const { return !m_pending.isEmpty(); }

private:
    // The length of the frame at the start of m_pending once it is complete; 0 while it may grow.
    qsizetype completeLength() const;

    QByteArray m_pending;
};
