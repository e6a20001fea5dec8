// Typesets the French manual from its HTML source into an A4 PDF, at build time, with an outline
// of its chapters (h2) and their sections (h3) that PDF readers and the help window show as its
// contents.
// Usage: kel_manual_builder SOURCE.html OUTPUT.pdf
#include <QAbstractTextDocumentLayout>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>
#include <QUrl>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace {

// A heading as printed: its page (from 0) and the height of its top from the page's top, in
// points.
struct Heading {
    QString title;
    int level; // 2: a chapter; 3: a section of the chapter before it
    int page;
    qreal top;
};

// Prints the manual as QTextDocument::print() does when no page size is set (2 mm of the paper
// left blank, 2 cm of margin within, the page number at the foot on the right), but from its own
// layout, so that where each heading lands is known.
bool typeset(QTextDocument& manual, QPdfWriter& writer, QList<Heading>& headings) {
    writer.setPageMargins(QMarginsF(2, 2, 2, 2), QPageLayout::Millimeter);
    QPainter painter(&writer);
    if (!painter.isActive())
        return false;
    QAbstractTextDocumentLayout* layout = manual.documentLayout();
    layout->setPaintDevice(&writer);
    // In the layout's units, 96 to the inch: it scales frame margins to the device itself.
    const qreal margin = int(2 / 2.54 * 96);
    QTextFrameFormat frame = manual.rootFrame()->frameFormat();
    frame.setMargin(margin);
    manual.rootFrame()->setFrameFormat(frame);
    const QSizeF body(writer.width(), writer.height());
    manual.setPageSize(body);

    const qreal dpi = writer.logicalDpiY();
    const QPointF numberAt(body.width() - margin * dpi / 96,
                           body.height() - margin * dpi / 96 +
                               QFontMetrics(manual.defaultFont(), &writer).ascent() + 5 * dpi / 72);
    const int pages = manual.pageCount();
    for (int page = 0; page < pages; ++page) {
        if (page > 0 && !writer.newPage())
            return false;
        const QRectF view(0, page * body.height(), body.width(), body.height());
        painter.save();
        painter.translate(0, -view.top());
        painter.setClipRect(view);
        QAbstractTextDocumentLayout::PaintContext context;
        context.clip = view;
        context.palette.setColor(QPalette::Text, Qt::black);
        layout->draw(&painter, context);
        painter.setClipping(false);
        painter.setFont(manual.defaultFont());
        const QString number = QString::number(page + 1);
        painter.drawText(qRound(numberAt.x() - painter.fontMetrics().horizontalAdvance(number)),
                         qRound(numberAt.y() + view.top()), number);
        painter.restore();
    }

    // The painter draws from the corner of the printable area, inside the 2 mm.
    const qreal printedTop = writer.pageLayout().paintRect(QPageLayout::Point).top();
    bool inChapter = false; // a section before the first chapter is the manual's own contents
    for (QTextBlock block = manual.begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        inChapter = inChapter || level == 2;
        QString title = block.text().replace(QChar::LineSeparator, QLatin1Char(' ')).trimmed();
        if ((level != 2 && level != 3) || !inChapter || title.isEmpty() ||
            block.layout()->lineCount() == 0)
            continue;
        // The block's rectangle starts above a first line that a page break pushed down.
        const qreal y = layout->blockBoundingRect(block).top() + block.layout()->lineAt(0).y();
        const int page = qBound(0, int(y / body.height()), pages - 1);
        headings.append({title, level, page,
                         printedTop + (y - page * body.height()) * 72 / writer.resolution()});
    }
    return true;
}

// `pdf` with an outline of `headings` added, each entry leading to its heading's page at the
// height of its top. Chapters are shown open, their sections listed under them.
QByteArray withOutline(const QByteArray& pdf, const QList<Heading>& headings) {
    QPDF document;
    document.processMemoryFile("manual", pdf.constData(), size_t(pdf.size()));
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(document).getAllPages();
    QPDFObjectHandle outlines = document.makeIndirectObject(QPDFObjectHandle::newDictionary());
    outlines.replaceKey("/Type", QPDFObjectHandle::newName("/Outlines"));
    const auto count = [](QPDFObjectHandle& entry) {
        QPDFObjectHandle n = entry.getKey("/Count");
        entry.replaceKey("/Count",
                         QPDFObjectHandle::newInteger(n.isInteger() ? n.getIntValue() + 1 : 1));
    };
    const auto append = [](QPDFObjectHandle& parent, QPDFObjectHandle& entry) {
        entry.replaceKey("/Parent", parent);
        if (parent.hasKey("/Last")) {
            QPDFObjectHandle last = parent.getKey("/Last");
            last.replaceKey("/Next", entry);
            entry.replaceKey("/Prev", last);
        } else {
            parent.replaceKey("/First", entry);
        }
        parent.replaceKey("/Last", entry);
    };
    QPDFObjectHandle chapter;
    for (const Heading& heading : headings) {
        if (heading.page >= int(pages.size()))
            throw std::runtime_error("a heading lies past the last page");
        QPDFObjectHandle entry = document.makeIndirectObject(QPDFObjectHandle::newDictionary());
        entry.replaceKey("/Title", QPDFObjectHandle::newUnicodeString(heading.title.toStdString()));
        const qreal height = pages[size_t(heading.page)].getMediaBox().getArrayAsRectangle().ury;
        QPDFObjectHandle destination = QPDFObjectHandle::newArray();
        destination.appendItem(pages[size_t(heading.page)].getObjectHandle());
        destination.appendItem(QPDFObjectHandle::newName("/XYZ"));
        destination.appendItem(QPDFObjectHandle::newInteger(0));
        destination.appendItem(QPDFObjectHandle::newReal(height - heading.top, 2));
        destination.appendItem(QPDFObjectHandle::newNull()); // the reader's zoom stays
        entry.replaceKey("/Dest", destination);
        if (heading.level == 2 || !chapter.isInitialized()) {
            append(outlines, entry);
            chapter = entry;
        } else {
            append(chapter, entry);
            count(chapter);
        }
        count(outlines); // every entry is visible
    }
    QPDFObjectHandle catalog = document.getRoot();
    catalog.replaceKey("/Outlines", outlines);
    catalog.replaceKey("/PageMode", QPDFObjectHandle::newName("/UseOutlines"));

    QPDFWriter writer(document);
    writer.setOutputMemory();
    writer.setDeterministicID(true);
    writer.write();
    const std::shared_ptr<Buffer> written = writer.getBufferSharedPointer();
    return QByteArray(reinterpret_cast<const char*>(written->getBuffer()),
                      qsizetype(written->getSize()));
}

} // namespace

int main(int argc, char* argv[]) {
    // Margins and fonts are sized at 96 dots to the inch, whatever screen the build sees.
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi);
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

    QByteArray pdf;
    QList<Heading> headings;
    {
        QBuffer printed(&pdf);
        printed.open(QIODevice::WriteOnly);
        QPdfWriter writer(&printed);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setResolution(300);
        writer.setTitle(manual.metaInformation(QTextDocument::DocumentTitle));
        writer.setCreator(QStringLiteral("KEL"));
        if (!typeset(manual, writer, headings)) {
            std::fprintf(stderr, "%s: the manual could not be typeset\n", qPrintable(args[2]));
            return 1;
        }
    }
    if (std::none_of(headings.cbegin(), headings.cend(),
                     [](const Heading& heading) { return heading.level == 2; })) {
        std::fprintf(stderr, "%s: no chapter (h2) to list in the contents\n", qPrintable(args[1]));
        return 1;
    }
    try {
        pdf = withOutline(pdf, headings);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "%s: no outline written: %s\n", qPrintable(args[2]), failure.what());
        return 1;
    }

    // Written aside and renamed at the end: a failed build never leaves a truncated manual.
    QSaveFile output(args[2]);
    if (!output.open(QIODevice::WriteOnly) || output.write(pdf) != pdf.size() || !output.commit()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(args[2]), qPrintable(output.errorString()));
        return 1;
    }
    return 0;
}
