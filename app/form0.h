#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;
struct Module1;
struct PortFacts;

// What the port window tells about COMn when the pointer rests on its entry.
QString portToolTip(int portNumber, const PortFacts &facts);

// The port selection window: the operator picks COM1..COM12 and confirms; the main window
// then takes over and this window goes away.
class Form0 : public QWidget
{
    Q_OBJECT

public:
    explicit Form0(Module1 &module, QWidget *parent = nullptr);

    // objectName: the design's Label1, Combo1 and Command1.
    QLabel *portLabel = nullptr;
    QComboBox *portList = nullptr;
    QPushButton *okButton = nullptr;

private:
    void choosePort(int position);
    void openMainWindow();

    Module1 &m_module;
};
