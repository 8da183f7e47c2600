// Qt and nothing else: an empty window of the port window's size.
#include <QApplication>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(317, 40);
    window.show();
    return app.exec();
}
