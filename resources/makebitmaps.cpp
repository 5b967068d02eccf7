// Draws the four 16 x 16 tree pictures and the window icon into the folder given on
// the command line. They are drawn here rather than committed, so the build owns them.
#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPolygon>
#include <cstdio>
#include <functional>

namespace {

QImage canvas()
{
    QImage img(16, 16, QImage::Format_RGB32);
    img.fill(QColor(0xFF, 0xFF, 0xFF));
    return img;
}

void folder(QPainter& p, bool open)
{
    const QColor edge(0x80, 0x60, 0x00), fill(0xFF, 0xD8, 0x40), front(0xFF, 0xE8, 0x80);
    p.setPen(edge);
    p.setBrush(fill);
    p.drawPolygon(QPolygon({QPoint(1, 3), QPoint(6, 3), QPoint(7, 5), QPoint(14, 5), QPoint(14, 13), QPoint(1, 13)}));
    if (open) {
        p.setBrush(front);
        p.drawPolygon(QPolygon({QPoint(3, 7), QPoint(15, 7), QPoint(13, 13), QPoint(1, 13)}));
    }
}

void leaf(QPainter& p)
{
    p.setPen(QColor(0x40, 0x40, 0x40));
    p.setBrush(QColor(0xFF, 0xFF, 0xFF));
    p.drawPolygon(QPolygon({QPoint(3, 1), QPoint(10, 1), QPoint(13, 4), QPoint(13, 14), QPoint(3, 14)}));
    p.drawLine(10, 1, 10, 4);
    p.drawLine(10, 4, 13, 4);
    p.setPen(QColor(0x40, 0x60, 0xC0));
    for (int y = 6; y <= 12; y += 2)
        p.drawLine(5, y, 11, y);
}

void server(QPainter& p)
{
    p.setPen(QColor(0x20, 0x20, 0x20));
    p.setBrush(QColor(0xC0, 0xC0, 0xC0));
    p.drawRect(3, 1, 9, 13);
    p.setBrush(QColor(0x60, 0x60, 0x60));
    p.drawRect(5, 3, 5, 1);
    p.drawRect(5, 6, 5, 1);
    p.setPen(QColor(0x00, 0xC0, 0x00));
    p.drawPoint(10, 11);
}

void icon(QPainter& p)
{
    // A lark's wing over a small upload arrow: sky blue ground, white bird, dark arrow.
    p.fillRect(0, 0, 16, 16, QColor(0x30, 0x80, 0xE0));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xFF, 0xFF, 0xFF));
    p.drawPolygon(QPolygon({QPoint(1, 6), QPoint(7, 4), QPoint(14, 1), QPoint(9, 7), QPoint(4, 8)}));
    p.setBrush(QColor(0x10, 0x20, 0x60));
    p.drawPolygon(QPolygon({QPoint(8, 8), QPoint(12, 12), QPoint(9, 12), QPoint(9, 15), QPoint(7, 15), QPoint(7, 12), QPoint(4, 12)}));
}

bool save(const QString& dir, const char* name, const std::function<void(QPainter&)>& draw, const char* format)
{
    QImage img = canvas();
    {
        QPainter p(&img);
        draw(p);
    }
    const QString path = dir + '/' + QString::fromLatin1(name);
    if (!img.save(path, format)) {
        std::fprintf(stderr, "makebitmaps: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: makebitmaps OUTPUT_FOLDER\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    bool ok = save(dir, "open.bmp", [](QPainter& p) { folder(p, true); }, "BMP");
    ok = save(dir, "closed.bmp", [](QPainter& p) { folder(p, false); }, "BMP") && ok;
    ok = save(dir, "leaf.bmp", leaf, "BMP") && ok;
    ok = save(dir, "root.bmp", server, "BMP") && ok;
    ok = save(dir, "skylark.png", icon, "PNG") && ok;
    return ok ? 0 : 1;
}
