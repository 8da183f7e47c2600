#include "framereader.h"

#include "commandframes.h"

namespace {

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
    using namespace commandframes;
    if (p.startsWith('@')) {
        if (p.size() < 2)
            return 0;
        if (const qsizetype length = fixedLength(p))
            return p.size() >= length ? length : 0;
        if (p.startsWith(messageWrite))
            return endAfter(p, QByteArrayView(&messageEnd, 1), messageWrite.size());
        return nextCommand(p, 1);
    }
    if (dialPrefix.startsWith(p.first(std::min(p.size(), dialPrefix.size()))))
        return p.size() >= dialPrefix.size() ? endAfter(p, dialEnd, dialPrefix.size()) : 0;
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
