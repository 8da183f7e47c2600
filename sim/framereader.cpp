#include "framereader.h"

namespace {

constexpr QByteArrayView dialCommand = "ATDT";

// Frames of a known length, by the letter after "@".
qsizetype fixedLength(char code)
{
    switch (code) {
    case 'S': case 'K': case 'Z': case 'A': case 'V':
        return 2;
    case 'T': case 'L':
        return 4;
    case 'D': case 'I':
        return 6;
    case 'P':
        return 25;
    default:
        return 0;
    }
}

qsizetype endAfter(QByteArrayView bytes, QByteArrayView end, qsizetype from)
{
    const qsizetype at = bytes.indexOf(end, from);
    return at < 0 ? 0 : at + end.size();
}

// A frame without an end of its own also ends where the next command begins.
qsizetype nextCommand(QByteArrayView bytes, qsizetype from)
{
    const qsizetype at = bytes.indexOf('@', from);
    return at > 0 ? at : 0;
}

} // namespace

qsizetype FrameReader::completeLength() const
{
    const QByteArrayView p = m_pending;
    if (p.startsWith('@')) {
        if (p.size() < 2)
            return 0;
        if (const qsizetype length = fixedLength(p[1]))
            return p.size() >= length ? length : 0;
        if (p[1] == 'W')
            return endAfter(p, QByteArrayView("\0", 1), 2);
        return nextCommand(p, 1);
    }
    if (dialCommand.startsWith(p.first(std::min(p.size(), dialCommand.size()))))
        return p.size() >= dialCommand.size() ? endAfter(p, "\r\n", dialCommand.size()) : 0;
    return nextCommand(p, 0);
}

QList<QByteArray> FrameReader::feed(QByteArrayView bytes)
{
    QList<QByteArray> frames;
    for (const char byte : bytes) {
        m_pending.append(byte);
        qsizetype length = completeLength();
        if (length == 0 && m_pending.size() >= maxFrameLength)
            length = m_pending.size();
        if (length > 0) {
            frames.append(m_pending.first(length));
            m_pending.remove(0, length);
        }
    }
    return frames;
}

QList<QByteArray> FrameReader::quiet()
{
    QList<QByteArray> frames;
    if (!m_pending.isEmpty())
        frames.append(std::exchange(m_pending, {}));
    return frames;
}
