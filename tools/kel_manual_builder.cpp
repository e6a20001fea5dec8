// Typesets the French manual from its HTML source into an A4 PDF, at build time.
// Usage: kel_manual_builder SOURCE.html OUTPUT.pdf
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextDocument>
#include <QUrl>

#include <cstdio>

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: kel_manual_builder SOURCE.html OUTPUT.pdf\n");
        return 2;
    }

    QFile source(args[1]);
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(args[1]), qPrintable(source.errorString()));
        return 1;
    }
    const QString html = QString::fromUtf8(source.readAll());
    if (html.trimmed().isEmpty()) {
        std::fprintf(stderr, "%s: empty manual source\n", qPrintable(args[1]));
        return 1;
    }

    QTextDocument manual;
    manual.setDefaultFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    // Pictures sit beside the source and are named by their file name alone.
    const QDir sourceDir = QFileInfo(args[1]).absoluteDir();
    for (const QString& picture : sourceDir.entryList({QStringLiteral("*.png")}, QDir::Files))
        manual.addResource(QTextDocument::ImageResource, QUrl(picture),
                           QImage(sourceDir.filePath(picture)));
    manual.setHtml(html);

    // Written aside and renamed at the end: a failed build never leaves a truncated manual.
    QSaveFile output(args[2]);
    if (!output.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(args[2]), qPrintable(output.errorString()));
        return 1;
    }
    {
        QPdfWriter writer(&output);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setPageMargins(
            QMarginsF(0, 0, 0, 0)); // print() then lays out 2 cm margins and numbers pages
        writer.setResolution(300);
        writer.setTitle(manual.metaInformation(QTextDocument::DocumentTitle));
        writer.setCreator(QStringLiteral("KEL"));
        manual.print(&writer);
    }
    if (!output.commit()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(args[2]), qPrintable(output.errorString()));
        return 1;
    }
    return 0;
}
