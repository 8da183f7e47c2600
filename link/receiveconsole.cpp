#include "receiveconsole.h"

#include "consoletext.h"

#include <QScrollBar>
#include <QTextBlock>

ReceiveConsole::ReceiveConsole(QWidget *parent) : QPlainTextEdit(parent)
{
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setTabChangesFocus(true);
    // Every received byte would otherwise stay in the undo history for the life of the window.
    setUndoRedoEnabled(false);
    connect(document(), &QTextDocument::contentsChanged, this, &ReceiveConsole::takeOperatorEdit);
}

void ReceiveConsole::setText(const QString &text)
{
    m_updating = true;
    m_text = text;
    setPlainText(consoletext::displayText(text));
    m_updating = false;
}

void ReceiveConsole::appendText(QStringView text)
{
    if (text.isEmpty())
        return;
    QScrollBar *vertical = verticalScrollBar();
    QScrollBar *horizontal = horizontalScrollBar();
    const bool following = vertical->value() == vertical->maximum();
    const int verticalValue = vertical->value();
    const int horizontalValue = horizontal->value();
    const QTextCursor caret = textCursor();
    const int caretAnchor = caret.anchor();
    const int caretPosition = caret.position();

    m_updating = true;
    QTextCursor end(document());
    end.movePosition(QTextCursor::End);
    // A CR shown alone becomes half of a line break when its LF arrives in a later tick.
    QStringView rest = text;
    QString shown;
    if (m_text.endsWith(u'\r') && text.startsWith(u'\n')) {
        end.deletePreviousChar();
        shown.append(QChar(consoletext::lineBreak));
        rest = text.sliced(1);
    }
    shown.append(consoletext::displayText(rest));
    end.insertText(shown);
    m_text.append(text);

    if (textCursor().anchor() != caretAnchor || textCursor().position() != caretPosition) {
        QTextCursor restored(document());
        restored.setPosition(caretAnchor);
        restored.setPosition(caretPosition, QTextCursor::KeepAnchor);
        setTextCursor(restored);
    }
    vertical->setValue(following ? vertical->maximum() : verticalValue);
    horizontal->setValue(horizontalValue);
    m_updating = false;
}

void ReceiveConsole::takeOperatorEdit()
{
    if (!m_updating)
        m_text = consoletext::modelText(document()->toRawText());
}
