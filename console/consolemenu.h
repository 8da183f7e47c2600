#pragma once

class QMenu;
class ReceiveConsole;

// The console's context menu, as QLineEdit's createStandardContextMenu: the caller owns it.
QMenu *createConsoleMenu(ReceiveConsole &console);
