#include "orderedprinter.h"

OrderedPrinter::OrderedPrinter(QTextStream &out, QTextStream &err, qsizetype ports, std::function<void()> closed)
    : m_out(out), m_err(err), m_ports(ports), m_closed(std::move(closed))
{
}

bool OrderedPrinter::outputClosed() const
{
    QMutexLocker lock(&m_mutex);
    return m_outputClosed;
}

void OrderedPrinter::print(qsizetype port, Stream stream, const QString &text)
{
    QMutexLocker lock(&m_mutex);
    take(port, stream, text);
}

void OrderedPrinter::printNow(Stream stream, const QString &text)
{
    QMutexLocker lock(&m_mutex);
    if (!text.isEmpty())
        write(stream, text);
}

void OrderedPrinter::finish(qsizetype port, Stream stream, const QString &text)
{
    QMutexLocker lock(&m_mutex);
    take(port, stream, text);
    m_ports[port].finished = true;
    while (m_current < m_ports.size() && m_ports[m_current].finished) {
        if (++m_current == m_ports.size())
            break;
        for (const auto &[heldStream, heldText] : std::as_const(m_ports[m_current].held))
            write(heldStream, heldText);
        m_ports[m_current].held.clear();
    }
}

void OrderedPrinter::take(qsizetype port, Stream stream, const QString &text)
{
    if (text.isEmpty())
        return;
    if (port == m_current)
        write(stream, text);
    else
        m_ports[port].held.append({stream, text});
}

void OrderedPrinter::write(Stream stream, const QString &text)
{
    QTextStream &to = stream == Stream::Out ? m_out : m_err;
    to << text;
    to.flush();
    if (stream == Stream::Out && to.status() != QTextStream::Ok && !m_outputClosed) {
        m_outputClosed = true;
        if (m_closed)
            m_closed();
    }
}
