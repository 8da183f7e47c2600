// Qt and nothing else: an empty window of the port window's size, or with --label one that
// shows a line of text (what any window with text pays for its fonts).
#include <QApplication>
#include <QLabel>

#include <memory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const auto window = app.arguments().contains(QStringLiteral("--label"))
                            ? std::make_unique<QLabel>(QStringLiteral("COM PORT"))
                            : std::make_unique<QWidget>();
    window->resize(317, 40);
    window->show();
    return app.exec();
}
