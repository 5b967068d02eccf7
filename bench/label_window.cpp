// The reference for start-up: a window of Skylark's size holding a Japanese label and a
// Japanese button in the font the real window asks for, shown and left on the first
// turn of the event loop, exactly as bench_startup leaves the real window. Unlike an
// empty window it measures text (its layout asks the label and the button for their
// size), so it pays for the font database and a font as any window with text does.

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString family = QStringLiteral("ＭＳ Ｐゴシック");
    QFont::insertSubstitutions(
        family, {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans CJK JP")});
    QWidget window;
    QFont font(family);
    font.setPointSizeF(9);
    window.setFont(font);
    window.resize(576, 358);
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("右の上段から下段へ")));
    layout->addWidget(new QPushButton(QStringLiteral("下の時間に毎時転送")));
    window.show();
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return QApplication::exec();
}
