// Renders each SVG icon given on the command line to a PNG of the same name in the output folder.
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: kel_render_icons OUTPUT_DIR ICON.svg...\n");
        return 2;
    }
    const QDir out(args[0]);
    for (const QString& svg : args.mid(1)) {
        QSvgRenderer renderer(svg);
        if (!renderer.isValid()) {
            std::fprintf(stderr, "invalid SVG: %s\n", qPrintable(svg));
            return 1;
        }
        QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        const QString png =
            out.filePath(QFileInfo(svg).completeBaseName() + QStringLiteral(".png"));
        if (!image.save(png)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(png));
            return 1;
        }
    }
    return 0;
}
