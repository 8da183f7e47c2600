#include "programicon.h"

#include <QPainter>
#include <QPixmap>

QIcon programIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(Qt::black);
    painter.setBrush(QColor(128, 128, 128));
    painter.drawRect(4, 2, 23, 27);
    painter.setBrush(QColor(0, 128, 0));
    painter.drawRect(7, 5, 17, 8);
    painter.setBrush(QColor(255, 255, 0));
    painter.drawRect(10, 17, 20, 13);
    painter.fillRect(10, 20, 20, 3, Qt::black);
    return QIcon(pixmap);
}
