// Both windows as the operator meets them: captions, every control's place and size,
// fonts, length limits, keyboard order, access keys, frames, and where focus starts.
#include "caption.h"
#include "clickablelabel.h"
#include "comname.h"
#include "designfonts.h"
#include "farend.h"
#include "form0.h"
#include "form1.h"
#include "module1.h"
#include "consolemenu.h"
#include "receiveconsole.h"
#include "toolkitlanguage.h"

#include <QApplication>
#include <QComboBox>
#include <QPainter>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <numeric>

class TestWindows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void caption();
    void portWindowLayout_data();
    void portWindowLayout();
    void portWindowList();
    void portWindowToolTips();
    void portWindowKeyboard();
    void mainWindowFrame();
    void mainWindowLayout_data();
    void mainWindowLayout();
    void lengthLimits_data();
    void lengthLimits();
    void tabOrderAndFocus();
    void accessKeys_data();
    void accessKeys();
    void sharedAccessKeyMovesFocus();
    void headingsAndColours();
    void boldDrawsBoldAtItsSize_data();
    void boldDrawsBoldAtItsSize();
    void portWindowCloseEndsProgram();
    // Last: the translation stays installed.
    void toolkitSpeaksTurkish();

private:
    Module1 m_module;
};

void TestWindows::initTestCase()
{
    designfonts::install();
    // No COM link and no settings file: the main window's load is not exercised here.
    m_module.programDir = QDir::tempPath();
}

void TestWindows::caption()
{
    QCOMPARE(WindowCaption(), QStringLiteral("Vexla Terminal Kontrol V ") + QLatin1String(programVersion));
    QCOMPARE(WindowCaption().left(25), QStringLiteral("Vexla Terminal Kontrol V "));
    Form0 form0(m_module);
    QCOMPARE(form0.windowTitle(), WindowCaption());
    Form1 form1(m_module);
    form1.setAttribute(Qt::WA_DeleteOnClose, false);
    QVERIFY(form1.windowTitle().isEmpty()); // set by the load, not by the layout

    // A box carries the program's name, and no icon on its OK even where the style gives one.
    form1.setStyleSheet(QStringLiteral("* { dialogbuttonbox-buttons-have-icons: 1 }"));
    form1.dateBox->setText(QStringLiteral("xx"));
    MessageBoxCatcher boxes;
    QTest::mouseClick(form1.dateButton, Qt::LeftButton);
    QCOMPARE(boxes.titles, QStringList{QStringLiteral("Terminal Kontrol")});
    QCOMPARE(boxes.buttonIcons, 0);
}

void TestWindows::portWindowLayout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");

    QTest::newRow("label") << "Label1" << QRect(16, 8, 81, 25) << "COM PORT";
    QTest::newRow("port list") << "Combo1" << QRect(104, 8, 113, 24) << "COM1";
    QTest::newRow("OK button") << "Command1" << QRect(232, 8, 73, 25) << "&Tamam";
}

void TestWindows::portWindowLayout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);

    Form0 form(m_module);
    form.setAttribute(Qt::WA_DeleteOnClose, false);
    QCOMPARE(form.size(), QSize(317, 40));
    QWidget *control = form.findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(control->font().family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(control->font().pixelSize(), 13);
    QVERIFY(control->font().bold());
    if (auto *label = qobject_cast<QLabel *>(control))
        QCOMPARE(label->text(), text);
    else if (auto *button = qobject_cast<QPushButton *>(control))
        QCOMPARE(button->text(), text);
    else
        QCOMPARE(qobject_cast<QComboBox *>(control)->currentText(), text);
}

void TestWindows::portWindowList()
{
    Form0 form(m_module);
    form.setAttribute(Qt::WA_DeleteOnClose, false);
    QCOMPARE(m_module.SelectedPort, quint8(1));
    QCOMPARE(form.portList->count(), 12);
    QVERIFY(!form.portList->isEditable());
    for (int i = 0; i < 12; ++i)
        QCOMPARE(form.portList->itemText(i), QStringLiteral("COM%1").arg(i + 1));
    // The position counts, never the text: COM10 is 10, COM1 stays 1.
    form.portList->setCurrentIndex(9);
    QCOMPARE(m_module.SelectedPort, quint8(10));
    form.portList->setCurrentIndex(11);
    QCOMPARE(m_module.SelectedPort, quint8(12));
    form.portList->setCurrentIndex(0);
    QCOMPARE(m_module.SelectedPort, quint8(1));
    // The selection cannot be emptied by the keyboard.
    form.show();
    form.portList->setFocus();
    QTest::keyClick(form.portList, Qt::Key_Delete);
    QTest::keyClick(form.portList, Qt::Key_Backspace);
    QCOMPARE(form.portList->currentIndex(), 0);
}

void TestWindows::portWindowToolTips()
{
    QTemporaryDir dir;
    Pty far;
    far.linkAs(dir.path(), 5);
    Module1 module;
    module.programDir = dir.path();
    Form0 form(module);
    form.setAttribute(Qt::WA_DeleteOnClose, false);
    const auto tip = [&](int index) { return form.portList->itemData(index, Qt::ToolTipRole).toString(); };
    QCOMPARE(tip(4), QStringLiteral("COM5: ") + far.devicePath());
    // Looked at afresh whenever the list opens: the device has gone meanwhile.
    far.hangUp();
    form.portList->showPopup();
    QCOMPARE(tip(4), QStringLiteral("COM5: %1\nŞu anda bu adda bir aygıt yok.").arg(far.devicePath()));

    const PortFacts adapter{QStringLiteral("/dev/ttyUSB0"),    true,
                            QStringLiteral("FT232R USB UART"), QStringLiteral("FTDI"),
                            QStringLiteral("A50285BI"),        QStringLiteral("0403:6001")};
    QCOMPARE(portToolTip(3, adapter), QStringLiteral("COM3: /dev/ttyUSB0\nAçıklama: FT232R USB UART\nÜretici: FTDI\n"
                                                     "USB kimliği: 0403:6001\nSeri numarası: A50285BI"));
    // A device server is named, not reached, while the list is browsed.
    QCOMPARE(portToolTip(4, portFacts(QStringLiteral("rfc2217://gate4.invalid:2217"), {})),
             QStringLiteral("COM4: rfc2217://gate4.invalid:2217\nAçıklama: Ağdaki seri port sunucusu (RFC 2217)"));
}

void TestWindows::portWindowKeyboard()
{
    Form0 form(m_module);
    form.setAttribute(Qt::WA_DeleteOnClose, false);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(QApplication::focusWidget(), form.portList);
    QVERIFY(form.okButton->focusPolicy() & Qt::TabFocus);
    QCOMPARE(form.portLabel->focusPolicy(), Qt::NoFocus);
    QCOMPARE(form.portList->nextInFocusChain(), form.okButton);
    QVERIFY(!form.okButton->isDefault());
    QVERIFY(!form.okButton->autoDefault());
    QVERIFY(form.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(form.windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(form.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(form.minimumSize() != form.maximumSize()); // its frame is resizable
    QVERIFY(!form.windowIcon().isNull());
}

void TestWindows::portWindowCloseEndsProgram()
{
    auto *form = new Form0(m_module);
    form->show();
    QTimer::singleShot(50, form, &QWidget::close);
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(1); });
    QCOMPARE(QApplication::exec(), 0);
}

void TestWindows::mainWindowFrame()
{
    Form1 form(m_module);
    form.setAttribute(Qt::WA_DeleteOnClose, false);
    QCOMPARE(form.size(), QSize(444, 443));
    QCOMPARE(form.minimumSize(), form.maximumSize());
    const Qt::WindowFlags flags = form.windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QCOMPARE(form.windowType(), Qt::Dialog);
    QVERIFY(!form.windowIcon().isNull());
    QCOMPARE(form.font().family(), QStringLiteral("MS Sans Serif"));
    QCOMPARE(form.font().pixelSize(), 11);
    QVERIFY(!form.font().bold());
    QCOMPARE(form.console->text(), QString());
    for (QLineEdit *box : form.findChildren<QLineEdit *>())
        QVERIFY2(box->text().isEmpty(), qPrintable(box->objectName()));
    for (QPushButton *button : form.findChildren<QPushButton *>()) {
        QVERIFY2(!button->isDefault() && !button->autoDefault(), qPrintable(button->objectName()));
        QVERIFY(button->isEnabled());
    }
}

void TestWindows::mainWindowLayout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<bool>("bold");

    const QString t = QStringLiteral("Tahoma");
    QTest::newRow("Label3") << "Label3" << QRect(8, 8, 169, 25) << "Gönderilen Komutlar" << t << 13 << true;
    QTest::newRow("Command17") << "Command17" << QRect(8, 48, 81, 25) << "&Access" << t << 11 << true;
    QTest::newRow("Command19") << "Command19" << QRect(96, 48, 81, 25) << "&Reset" << t << 11 << true;
    QTest::newRow("Command10") << "Command10" << QRect(8, 80, 169, 25) << "&Terminalden Bilgi Okuma" << t << 11 << true;
    QTest::newRow("Command11") << "Command11" << QRect(8, 112, 169, 25) << "Kart Sayacını &Okuma" << t << 11 << true;
    QTest::newRow("Command5") << "Command5" << QRect(8, 144, 169, 25) << "Kart Sayacını &Sıfırlama" << t << 11 << true;
    QTest::newRow("Text11") << "Text11" << QRect(8, 176, 41, 25) << "" << t << 11 << true;
    QTest::newRow("Command14") << "Command14" << QRect(48, 176, 129, 25) << "&Kart Sayacını Atama" << t << 11 << true;
    QTest::newRow("Text1") << "Text1" << QRect(8, 208, 81, 25) << "" << t << 11 << true;
    QTest::newRow("Command4") << "Command4" << QRect(96, 208, 81, 25) << "Kart Ok&ut" << t << 11 << true;
    QTest::newRow("Text2") << "Text2" << QRect(8, 240, 81, 25) << "" << t << 11 << true;
    QTest::newRow("Command2") << "Command2" << QRect(96, 240, 81, 25) << "Tari&h Ayarla" << t << 11 << true;
    QTest::newRow("Text7") << "Text7" << QRect(8, 272, 81, 25) << "" << t << 11 << true;
    QTest::newRow("Command3") << "Command3" << QRect(96, 272, 81, 25) << "Saat Ayar&la" << t << 11 << true;
    QTest::newRow("Text6") << "Text6" << QRect(8, 304, 81, 25) << "" << t << 11 << true;
    QTest::newRow("Command1") << "Command1" << QRect(96, 304, 81, 25) << "&Firma Adı" << t << 11 << true;
    QTest::newRow("Text4") << "Text4" << QRect(8, 336, 81, 25) << "" << t << 11 << true;
    QTest::newRow("Command6") << "Command6" << QRect(96, 336, 81, 25) << "&Mesaj Yaz" << t << 11 << true;
    QTest::newRow("Text3") << "Text3" << QRect(8, 368, 81, 25) << "" << t << 11 << true;
    QTest::newRow("Command9") << "Command9" << QRect(96, 368, 81, 25) << "Komut &Yaz" << t << 11 << true;
    QTest::newRow("Text10") << "Text10" << QRect(8, 400, 81, 25) << ""
                            << "MS Sans Serif" << 11 << false;
    QTest::newRow("Command18") << "Command18" << QRect(96, 400, 81, 25) << "&Dial" << t << 11 << true;
    QTest::newRow("Label1") << "Label1" << QRect(208, 8, 225, 25) << "Alınan Mesajlar" << t << 13 << true;
    QTest::newRow("Command15") << "Command15" << QRect(392, 8, 41, 25) << "Si&l" << t << 11 << true;
    QTest::newRow("Text8") << "Text8" << QRect(208, 48, 225, 377) << "" << t << 11 << false;
    QTest::newRow("Label2") << "Label2" << QRect(403, 427, 31, 13) << "Kurvi"
                            << "Verdana" << 11 << true;
}

void TestWindows::mainWindowLayout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(QString, family);
    QFETCH(int, pixelSize);
    QFETCH(bool, bold);

    Form1 form(m_module);
    form.setAttribute(Qt::WA_DeleteOnClose, false);
    QWidget *control = form.findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(control->font().family(), family);
    QCOMPARE(control->font().pixelSize(), pixelSize);
    QCOMPARE(control->font().bold(), bold);
    if (auto *label = qobject_cast<QLabel *>(control))
        QCOMPARE(label->text(), text);
    else if (auto *button = qobject_cast<QPushButton *>(control))
        QCOMPARE(button->text(), text);
}

void TestWindows::lengthLimits_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("limit");

    QTest::newRow("counter") << "Text11" << 4;
    QTest::newRow("card number") << "Text1" << 6;
    QTest::newRow("date") << "Text2" << 10;
    QTest::newRow("time") << "Text7" << 5;
    QTest::newRow("company name") << "Text6" << 20;
    QTest::newRow("message") << "Text4" << 14;
    QTest::newRow("free command") << "Text3" << 0;
    QTest::newRow("phone number") << "Text10" << 0;
}

void TestWindows::lengthLimits()
{
    QFETCH(QString, name);
    QFETCH(int, limit);

    Form1 form(m_module);
    form.setAttribute(Qt::WA_DeleteOnClose, false);
    auto *box = form.findChild<QLineEdit *>(name);
    QVERIFY(box);
    const QString typed(40, u'7');
    QTest::keyClicks(box, typed);
    QCOMPARE(box->text().size(), limit ? limit : 40);
    // Pasting is bounded the same way.
    box->clear();
    box->insert(QString(40, u'ş'));
    QCOMPARE(box->text().size(), limit ? limit : 40);
}

void TestWindows::tabOrderAndFocus()
{
    Form1 form(m_module);
    form.setAttribute(Qt::WA_DeleteOnClose, false);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(QApplication::focusWidget(), form.accessButton);

    const QList<QWidget *> expected = {
        form.accessButton, form.resetButton,         form.informationButton, form.counterReadButton, form.counterZeroButton,
        form.counterBox,   form.counterAssignButton, form.dateBox,           form.dateButton,        form.timeBox,
        form.timeButton,   form.companyBox,          form.companyButton,     form.messageBox,        form.messageButton,
        form.commandBox,   form.commandButton,       form.phoneNumberBox,    form.dialButton,        form.clearButton,
        form.console,      form.cardNumberBox,       form.cardReadButton,    form.accessButton};
    for (qsizetype i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY2(QApplication::focusWidget() == expected[i],
                 qPrintable(QStringLiteral("after %1 came %2")
                                .arg(expected[i - 1]->objectName(), QApplication::focusWidget()->objectName())));
    }
    for (QLabel *label : form.findChildren<QLabel *>())
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
}

void TestWindows::accessKeys_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<char>("key");

    QTest::newRow("Alt+A access") << "Command17" << 'A';
    QTest::newRow("Alt+R reset") << "Command19" << 'R';
    QTest::newRow("Alt+T information") << "Command10" << 'T';
    QTest::newRow("Alt+O counter read") << "Command11" << 'O';
    QTest::newRow("Alt+S counter zero") << "Command5" << 'S';
    QTest::newRow("Alt+K counter assign") << "Command14" << 'K';
    QTest::newRow("Alt+U card read") << "Command4" << 'U';
    QTest::newRow("Alt+H date") << "Command2" << 'H';
    QTest::newRow("Alt+F company") << "Command1" << 'F';
    QTest::newRow("Alt+M message") << "Command6" << 'M';
    QTest::newRow("Alt+Y free command") << "Command9" << 'Y';
    QTest::newRow("Alt+D dial") << "Command18" << 'D';
}

void TestWindows::accessKeys()
{
    QFETCH(QString, name);
    QFETCH(char, key);

    Form1 form(m_module);
    form.setAttribute(Qt::WA_DeleteOnClose, false);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    auto *button = form.findChild<QPushButton *>(name);
    // Only the press is checked here: without an open port the command would report a failure.
    disconnect(button, &QPushButton::clicked, nullptr, nullptr);
    QSignalSpy clicked(button, &QPushButton::clicked);
    QTest::keyClick(form.windowHandle(), Qt::Key(key), Qt::AltModifier);
    QCOMPARE(clicked.size(), 1); // with the key, not after the press's animation
    // The mouse clicks once, and a release beside the button not at all; it is drawn again either way.
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mousePress(button, Qt::LeftButton);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(-4, -4));
    QCOMPARE(clicked.size(), 2);
    QVERIFY(button->updatesEnabled());
}

void TestWindows::sharedAccessKeyMovesFocus()
{
    Form1 form(m_module);
    form.setAttribute(Qt::WA_DeleteOnClose, false);
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QSignalSpy time(form.timeButton, &QPushButton::clicked);
    QSignalSpy clear(form.clearButton, &QPushButton::clicked);
    QTest::keyClick(form.windowHandle(), Qt::Key_L, Qt::AltModifier);
    const QWidget *first = QApplication::focusWidget();
    QTest::keyClick(form.windowHandle(), Qt::Key_L, Qt::AltModifier);
    const QWidget *second = QApplication::focusWidget();
    QTest::qWait(300);
    // Alt+L belongs to two buttons: it moves between them and presses neither.
    QCOMPARE(time.size() + clear.size(), 0);
    QVERIFY(first != second);
    QVERIFY(first == form.timeButton || first == form.clearButton);
    QVERIFY(second == form.timeButton || second == form.clearButton);
}

void TestWindows::headingsAndColours()
{
    Form1 form(m_module);
    form.setAttribute(Qt::WA_DeleteOnClose, false);
    QCOMPARE(form.cardFrameHeading->palette().color(QPalette::Window), QColor(255, 255, 192));
    QVERIFY(form.cardFrameHeading->autoFillBackground());
    QCOMPARE(form.cardFrameHeading->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(form.receivedHeading->palette().color(QPalette::Window), QColor(224, 224, 224));
    QCOMPARE(form.receivedHeading->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
    QCOMPARE(form.makerLabel->palette().color(QPalette::WindowText), QColor(128, 128, 128));
    QCOMPARE(form.makerLabel->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    // The clear button lies over the right end of its heading, sharing the right edge.
    QCOMPARE(form.clearButton->geometry().right(), form.receivedHeading->geometry().right());
    QVERIFY(form.children().indexOf(form.clearButton) > form.children().indexOf(form.receivedHeading));
    QCOMPARE(form.console->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(form.console->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
}

void TestWindows::boldDrawsBoldAtItsSize_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pixelSize");
    for (const char *family : {"Tahoma", "MS Sans Serif", "Verdana"}) {
        for (const int pixels : {designfonts::smallPixels, designfonts::largePixels})
            QTest::addRow("%s %d px", family, pixels) << QString::fromLatin1(family) << pixels;
    }
}

void TestWindows::boldDrawsBoldAtItsSize()
{
    QFETCH(QString, family);
    QFETCH(int, pixelSize);
    const auto darkness = [](const QFont &font) {
        QImage image(200, 40, QImage::Format_Grayscale8);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setFont(font);
        painter.drawText(2, 30, QStringLiteral("Kart Sayacını Okuma"));
        painter.end();
        return image.sizeInBytes() * 255
               - std::accumulate(image.constBits(), image.constBits() + image.sizeInBytes(), qint64(0));
    };
    const QFont bold = designfonts::font(family, pixelSize, true);
    QCOMPARE(QFontInfo(bold).pixelSize(), pixelSize);
    QVERIFY(darkness(bold) > darkness(designfonts::font(family, pixelSize, false)) * 6 / 5);
}

void TestWindows::toolkitSpeaksTurkish()
{
    QVERIFY(!installToolkitLanguage(QLocale(QLocale::English, QLocale::UnitedStates)));
    QVERIFY(installToolkitLanguage(QLocale(QLocale::Turkish, QLocale::Turkey)));
    QMessageBox box(QMessageBox::NoIcon, QString(), QStringLiteral("PORT Hatası 8018"), QMessageBox::Ok);
    QCOMPARE(box.button(QMessageBox::Ok)->text(), QStringLiteral("Tamam"));

    // The console's own menu names its entries as Qt's text boxes do.
    ReceiveConsole console;
    const QMenu *menu = createConsoleMenu(console);
    QCOMPARE(menu->actions().value(3)->text(), QStringLiteral("Ke&s"));
    QCOMPARE(menu->actions().value(4)->text(), QStringLiteral("&Kopyala"));
}

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
