#include "project_file.h"

#include "common/annotation_name.h"

#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringConverter>
#include <QTextStream>
#include <QXmlStreamReader>

#include <climits>
#include <cmath>
#include <functional>

namespace kel {

namespace {

const QString kFileName = QStringLiteral("project.xml");
const QString kRoot = QStringLiteral("ANNOTATION");
const QString kNumero = QStringLiteral("Numero");
const QString kFramePosition = QStringLiteral("FramePosition");
const QString kType = QStringLiteral("Type");
const QString kDuree = QStringLiteral("Duree");
const QString kCut = QStringLiteral("CouperAnnotation");
const QString kValue = QStringLiteral("Value");
const QString kCutStart = QStringLiteral("ValueDebut");
const QString kCutEnd = QStringLiteral("ValueFin");
const QByteArray kDeclaration = QByteArrayLiteral("<?xml version='1.0' encoding='UTF-8'?>");

struct Loaded {
    enum Status {
        Missing,    // no file, or a file holding nothing but white space
        Unreadable, // exists but cannot be read: it must not be replaced blindly either
        Linked,     // a link: read through, never written through
        Damaged,
        Parsed,
    };
    Status status = Missing;
    QDomDocument doc;
    QByteArray bytes;
};

// project.xml holds a few entries per annotation: a file larger than this, or nested deeper than
// its three levels, is not one of ours, and parsing it could take minutes.
constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;
constexpr int kMaxDepth = 3;

bool withinDepth(const QByteArray& data) {
    QXmlStreamReader reader(data);
    int depth = 0;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > kMaxDepth)
            return false;
        if (token == QXmlStreamReader::EndElement)
            --depth;
    }
    return true; // a syntax error is left for the DOM to report
}

Loaded load(const QString& path) {
    Loaded l;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return l;
    // A device, a FIFO or a huge file would block or exhaust the reader.
    if (!info.isFile() || info.size() > kMaxFileBytes) {
        l.status = Loaded::Damaged;
        return l;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        l.status = Loaded::Unreadable;
        return l;
    }
    l.bytes = file.read(kMaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        l.status = Loaded::Unreadable;
        return l;
    }
    if (l.bytes.size() > kMaxFileBytes) {
        l.status = Loaded::Damaged;
        return l;
    }
    if (l.bytes.trimmed().isEmpty())
        return l;
    l.status = withinDepth(l.bytes) && l.doc.setContent(l.bytes) ? Loaded::Parsed : Loaded::Damaged;
    return l;
}

// As load(), for a write: a link is never written through, whatever it points at.
Loaded loadForWrite(const QString& path) {
    Loaded l = load(path);
    if (QFileInfo(path).isSymLink() && l.status != Loaded::Damaged)
        l.status = Loaded::Linked;
    return l;
}

// The DOM writes only the encodings that Qt converts by itself; it would write any other one
// (windows-1252, ISO-8859-15) as UTF-8 under the old declaration. Such a file becomes UTF-8.
void declareWritableEncoding(QDomDocument& doc) {
    QDomProcessingInstruction declaration = doc.firstChild().toProcessingInstruction();
    if (declaration.isNull() || declaration.target() != QLatin1String("xml"))
        return;
    static const QRegularExpression encoding(
        QStringLiteral("encoding\\s*=\\s*(['\"])([^'\"]*)\\1"));
    const QRegularExpressionMatch m = encoding.match(declaration.data());
    if (!m.hasMatch() || QStringConverter::encodingForName(m.captured(2).toLatin1().constData()))
        return;
    QString data = declaration.data();
    data.replace(m.capturedStart(2), m.capturedLength(2), QStringLiteral("UTF-8"));
    declaration.setData(data);
}

// The document as the DOM prints it with one space of indentation, in the encoding that its
// declaration names (UTF-8 when none), so that a file read back decodes as it was written.
QByteArray documentText(QDomDocument& doc) {
    declareWritableEncoding(doc);
    QByteArray text;
    {
        QTextStream stream(&text, QIODevice::WriteOnly);
        doc.save(stream, 1);
    }
    return text;
}

bool save(const QString& path, const QByteArray& text) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // commit() does not notice a flush that fell short (disk full), so write through and check.
    if (file.write(text) != text.size() || !file.flush()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// The entry that stands for `number`: the last one carrying it, since a number given again after
// a deletion belongs to the newest annotation.
template <typename Match> QDomElement lastEntry(const QDomDocument& doc, Match matches) {
    QDomElement found;
    for (QDomElement e = doc.documentElement().firstChildElement(kNumero); !e.isNull();
         e = e.nextSiblingElement(kNumero)) {
        if (matches(e))
            found = e;
    }
    return found;
}

int entryNumber(const QDomElement& numero) {
    return numero.attribute(kValue).toInt();
}

QDomElement lastEntry(const QDomDocument& doc, int number) {
    return lastEntry(doc, [number](const QDomElement& e) { return entryNumber(e) == number; });
}

double finiteOrZero(double value) {
    return std::isfinite(value) ? value : 0;
}

// The first cut of an entry that carries `attribute`, 0 when none.
double firstCut(const QDomElement& numero, const QString& attribute) {
    for (QDomElement cut = numero.firstChildElement(kCut); !cut.isNull();
         cut = cut.nextSiblingElement(kCut)) {
        const QString text = cut.attribute(attribute);
        if (!text.isEmpty())
            return finiteOrZero(text.toDouble());
    }
    return 0;
}

// Milliseconds as plain decimal text: 1200, 1234.5; never an exponent.
QString decimal(double value) {
    return QString::number(value, 'f', QLocale::FloatingPointShortest);
}

// One entry per number, the last one carrying it, in the order of those last entries.
QList<ProjectFile::Entry> entriesOf(const QDomDocument& doc) {
    QHash<int, QDomElement> last;
    QList<int> order;
    for (QDomElement e = doc.documentElement().firstChildElement(kNumero); !e.isNull();
         e = e.nextSiblingElement(kNumero)) {
        const int number = entryNumber(e);
        order.removeOne(number);
        order.append(number);
        last.insert(number, e);
    }
    QList<ProjectFile::Entry> entries;
    for (int number : order) {
        const QDomElement e = last.value(number);
        ProjectFile::Entry entry;
        entry.number = number;
        entry.framePosition = e.firstChildElement(kFramePosition).attribute(kValue).toInt();
        for (QDomElement t = e.firstChildElement(kType); !t.isNull();
             t = t.nextSiblingElement(kType))
            entry.type = qMax(entry.type, t.attribute(kValue) == QLatin1String("1") ? 1 : 0);
        entry.duration = finiteOrZero(e.firstChildElement(kDuree).attribute(kValue).toDouble());
        entry.cutStart = firstCut(e, kCutStart);
        entry.cutEnd = firstCut(e, kCutEnd);
        entries.append(entry);
    }
    return entries;
}

// Saves `doc` and hands back what the file now holds.
ProjectFile::WriteResult saveDocument(const QString& path, QDomDocument& doc,
                                      ProjectFile::Contents* after, const QByteArray& prefix = {}) {
    const QByteArray text = prefix + documentText(doc);
    if (!save(path, text))
        return ProjectFile::WriteResult::Failed;
    if (after)
        *after = {ProjectFile::Contents::Status::Parsed, text, entriesOf(doc)};
    return ProjectFile::WriteResult::Written;
}

// A file that a write may change: parsed, or missing (when `missingOk`).
std::optional<ProjectFile::WriteResult> refusal(const Loaded& l, bool missingOk) {
    switch (l.status) {
    case Loaded::Damaged:
        return ProjectFile::WriteResult::Damaged;
    case Loaded::Unreadable:
    case Loaded::Linked:
        return ProjectFile::WriteResult::Failed;
    case Loaded::Missing:
        return missingOk ? std::nullopt : std::optional(ProjectFile::WriteResult::NoChange);
    case Loaded::Parsed:
        break;
    }
    return std::nullopt;
}

// Changes the last entry of `number` in the file as it is now; `edit` returns false when there
// is nothing to change.
ProjectFile::WriteResult
editLastEntry(const QString& path, int number, ProjectFile::Contents* after,
              const std::function<bool(QDomDocument&, QDomElement&)>& edit) {
    Loaded l = loadForWrite(path);
    if (const auto refused = refusal(l, false))
        return *refused;
    QDomElement numero = lastEntry(l.doc, number);
    if (numero.isNull() || !edit(l.doc, numero))
        return ProjectFile::WriteResult::NoChange;
    return saveDocument(path, l.doc, after);
}

} // namespace

ProjectFile::ProjectFile(const QString& projectDir) : m_dir(projectDir) {}

QString ProjectFile::path() const {
    return QDir(m_dir).filePath(kFileName);
}

ProjectFile::WriteResult ProjectFile::writeAnnotationEntry(int number, int type, int framePosition,
                                                           Contents* after) {
    Loaded l = loadForWrite(path());
    if (const auto refused = refusal(l, true))
        return *refused;

    const bool fresh = l.status == Loaded::Missing;
    QDomElement root = l.doc.documentElement();
    if (root.isNull()) {
        root = l.doc.createElement(kRoot);
        l.doc.appendChild(root);
    }
    QDomElement numero = l.doc.createElement(kNumero);
    numero.setAttribute(kValue, QString::number(number));
    QDomElement position = l.doc.createElement(kFramePosition);
    position.setAttribute(kValue, QString::number(framePosition));
    QDomElement typeElement = l.doc.createElement(kType);
    typeElement.setAttribute(kValue, QString::number(type));
    numero.appendChild(position);
    numero.appendChild(typeElement);
    root.appendChild(numero);

    // A file written once carries the declaration with two carriage returns; later writes print
    // the declaration that was parsed, followed by a line break.
    return saveDocument(path(), l.doc, after, fresh ? kDeclaration + "\r\r" : QByteArray());
}

ProjectFile::WriteResult ProjectFile::updateAnnotationEntry(int number, double duration,
                                                            double cutStart, double cutEnd,
                                                            Contents* after) {
    QString tag = kDuree;
    QString attribute = kValue;
    double value = duration;
    if (cutStart != 0 || cutEnd != 0) {
        tag = kCut;
        attribute.clear();
        value = 0;
        if (cutStart > 0) {
            attribute = kCutStart;
            value = cutStart;
        }
        if (cutEnd > 0) {
            attribute = kCutEnd;
            value = cutEnd;
        }
    }
    if (!(value > 0) || !std::isfinite(value))
        return WriteResult::NoChange;

    return editLastEntry(path(), number, after, [&](QDomDocument& doc, QDomElement& numero) {
        QDomElement element = doc.createElement(tag);
        element.setAttribute(attribute, decimal(value));
        if (!numero.hasChildNodes()) {
            numero.appendChild(element);
            return true;
        }
        // The element travels to the end of the entry and takes the place of any element of its
        // kind that it supersedes: any duration, or a cut of the same end that was made.
        for (int i = 0; i < numero.childNodes().count(); ++i) {
            const QDomNode child = numero.childNodes().at(i);
            const QDomElement childElement = child.toElement();
            const bool sameKind = !childElement.isNull() && childElement.tagName() == tag;
            if (sameKind && (tag == kDuree || childElement.attribute(attribute).toDouble() > 0))
                numero.replaceChild(element, child);
            else
                numero.appendChild(element);
        }
        return true;
    });
}

bool ProjectFile::restore(const std::optional<QByteArray>& bytes) {
    if (QFileInfo(path()).isSymLink())
        return false;
    if (bytes)
        return save(path(), *bytes);
    return QFile::remove(path()) || !QFileInfo::exists(path());
}

ProjectFile::WriteResult ProjectFile::removeEntry(int number, int framePosition, Contents* after) {
    return editLastEntry(
        path(), number, after, [framePosition](QDomDocument&, QDomElement& numero) {
            if (numero.firstChildElement(kFramePosition).attribute(kValue).toInt() != framePosition)
                return false;
            numero.parentNode().removeChild(numero);
            return true;
        });
}

ProjectFile::WriteResult ProjectFile::setCuts(int number, double cutStart, double cutEnd,
                                              Contents* after) {
    return editLastEntry(path(), number, after, [=](QDomDocument& doc, QDomElement& numero) {
        while (!numero.firstChildElement(kCut).isNull())
            numero.removeChild(numero.firstChildElement(kCut));
        for (const auto& [attribute, value] : {std::pair{kCutStart, cutStart}, {kCutEnd, cutEnd}}) {
            if (!(value > 0) || !std::isfinite(value))
                continue;
            QDomElement cut = doc.createElement(kCut);
            cut.setAttribute(attribute, decimal(value));
            numero.appendChild(cut);
        }
        return true;
    });
}

QList<int> ProjectFile::loadAnnotationSchedule() const {
    QList<int> schedule;
    for (const Entry& e : read().entries)
        schedule << e.number << e.framePosition;
    return schedule;
}

namespace {
double readCut(const QString& path, int number, const QString& attribute) {
    const Loaded l = load(path);
    return l.status == Loaded::Parsed ? firstCut(lastEntry(l.doc, number), attribute) : 0;
}
} // namespace

double ProjectFile::readCutStart(int number) const {
    return readCut(path(), number, kCutStart);
}

double ProjectFile::readCutEnd(int number) const {
    return readCut(path(), number, kCutEnd);
}

bool ProjectFile::isDamaged() const {
    return load(path()).status == Loaded::Damaged;
}

ProjectFile::Contents ProjectFile::read() const {
    const Loaded l = load(path());
    Contents c;
    c.bytes = l.bytes;
    c.status = l.status == Loaded::Parsed       ? Contents::Status::Parsed
               : l.status == Loaded::Damaged    ? Contents::Status::Damaged
               : l.status == Loaded::Unreadable ? Contents::Status::Unreadable
                                                : Contents::Status::Missing;
    if (l.status == Loaded::Parsed)
        c.entries = entriesOf(l.doc);
    return c;
}

QStringList ProjectFile::listAnnotationFiles(const QString& dir) {
    // An empty path would list the working directory.
    if (dir.isEmpty())
        return {};
    QStringList names = QDir(dir).entryList({QStringLiteral("annotation*")},
                                            QDir::Files | QDir::CaseSensitive, QDir::Name);
    names.removeIf([](const QString& name) { return annotationNumber(name) == 0; });
    return names;
}

int ProjectFile::annotationNumber(const QString& fileName) {
    return kel::annotationNumber(fileName);
}

QString ProjectFile::annotationFileName(int number) {
    return kel::annotationFileName(number);
}

} // namespace kel
