#pragma once

class ReceiveConsole;

#include "farend.h"
#include "form1.h"
#include "module1.h"

#include <QPointer>

#include <memory>

// A main window opened on a pseudo-terminal through a COMn link beside the test binary,
// as an operator's confirmation in the port window would open it.
struct Form1Harness
{
    explicit Form1Harness(int comNumber = 5, Clock clock = systemNow);
    ~Form1Harness();

    Pty far;
    Module1 module;
    QPointer<Form1> form;

    // Clicks a button as the operator does, with the mouse.
    void click(QWidget *control);
};

// Removes the settings file beside the test binary, or writes it with `content`.
void writeSettingsFile(const QByteArray *content);

// Runs the actions of an operator on `widget`: "type:" and text, or a key such as "Shift+Left".
void act(QWidget *widget, const QStringList &actions);

// Pixels of the console's view that are not its background.
int inkPixels(ReceiveConsole &console);

// The 256 byte values in order, and as the console's characters (Windows-1254).
QByteArray allByteValues();
QString allCharacters();
