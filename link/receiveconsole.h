#pragma once

#include <QPlainTextEdit>
#include <QString>

// The received-data console. It holds the received characters exactly (text()), shows them
// with consoletext's visible forms, stays editable, and appends without moving the
// operator's caret, selection or view, unless the view was at the end: then it follows.
class ReceiveConsole : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit ReceiveConsole(QWidget *parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString &text);
    void appendText(QStringView text);

private:
    void takeOperatorEdit();

    QString m_text;
    bool m_updating = false;
};
