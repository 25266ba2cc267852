// The baselines for start-up and memory: a bare Qt 6 window with one label. With the
// argument --measure-font it also asks for its font's metrics before it is shown, as any
// window must that sizes controls to their text; that loads the font database before the
// first map instead of at the first paint.
#include <QApplication>
#include <QFontMetrics>
#include <QLabel>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("VORQ"));
    label.resize(478, 408);
    if (argc > 1 && QLatin1String(argv[1]) == QLatin1String("--measure-font"))
        label.setMinimumHeight(QFontMetrics(label.font()).height());
    label.show();
    return QApplication::exec();
}
