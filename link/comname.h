#pragma once

#include <QString>

// The device that stands for COMn: on Windows the system's own name; elsewhere the target
// of a link named COMn beside the program (a USB adapter), else the n-th on-board UART.
QString comDevicePath(int portNumber, const QString &programDir);
