#include "consolemenu.h"

#include "receiveconsole.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>

QMenu *createConsoleMenu(ReceiveConsole &console)
{
    auto *menu = new QMenu(&console);
    const bool editable = !console.showsBytes();
    const auto add = [&](const char *text, QKeySequence::StandardKey key, bool enabled, auto action) {
        // The entries of Qt's own text boxes, so that Qt's translations name them as those do.
        QAction *item = menu->addAction(QCoreApplication::translate("QWidgetTextControl", text));
        item->setShortcut(key);
        item->setEnabled(enabled);
        QObject::connect(item, &QAction::triggered, &console, action);
    };
    // The console keeps no history of edits: its Undo and Redo are there, as in Qt's boxes, but cannot act.
    add("&Undo", QKeySequence::Undo, false, [] {});
    add("&Redo", QKeySequence::Redo, false, [] {});
    menu->addSeparator();
    add("Cu&t", QKeySequence::Cut, console.hasSelection() && editable, &ReceiveConsole::cut);
    add("&Copy", QKeySequence::Copy, console.hasSelection(), &ReceiveConsole::copy);
    add("&Paste", QKeySequence::Paste, !QGuiApplication::clipboard()->text().isEmpty() && editable, &ReceiveConsole::paste);
    add("Delete", QKeySequence::UnknownKey, console.hasSelection() && editable, &ReceiveConsole::deleteSelection);
    menu->addSeparator();
    add("Select All", QKeySequence::SelectAll, console.buffer().size() > 0, &ReceiveConsole::selectAll);
    menu->addSeparator();
    const auto addChoice = [&](const QString &text, bool checked, void (ReceiveConsole::*set)(bool)) {
        QAction *item = menu->addAction(text);
        item->setCheckable(true);
        item->setChecked(checked);
        QObject::connect(item, &QAction::toggled, &console, set);
    };
    addChoice(QStringLiteral("Onaltılık Görünüm"), console.showsBytes(), &ReceiveConsole::setShowsBytes);
    addChoice(QStringLiteral("Geliş Zamanları"), console.showsArrivalTimes(), &ReceiveConsole::setShowsArrivalTimes);
    menu->addSeparator();
    menu->addAction(QStringLiteral("Kaydet..."), &console, &ReceiveConsole::saveRequested);
    return menu;
}
