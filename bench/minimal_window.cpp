// The baseline the benchmarks hold the program against: the least a Qt
// Widgets program can show, one window with one label. Its text is Chinese,
// as every window of the program is, so that the baseline too loads a font
// with the glyphs.

#include <QApplication>
#include <QLabel>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QLabel label(QStringLiteral("检测到可用的光驱设备："));
    label.setWindowTitle(QStringLiteral("Trayvo2010 baseline"));
    label.show();
    return QApplication::exec();
}
