#include "export_window.h"

#include "common/dialogs.h"
#include "export/export_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

namespace kel {

namespace {

// The frame's preview: a fixed width and a bottom edge just above the slider; its height follows
// the montage's proportions.
constexpr int kPreviewLeft = 30;
constexpr int kPreviewWidth = 271;
constexpr int kPreviewBottom = 411;
// A picture a second in: the very first frames are often black.
constexpr double kPictureAtMs = 1000;

// One picture of the student's video, or a null image when it cannot be read.
QImage studentPicture(const QString& path) {
    if (path.isEmpty() || !QFileInfo(path).isFile())
        return {};
    cv::VideoCapture capture(QFile::encodeName(path).toStdString());
    cv::Mat frame;
    if (!capture.isOpened() || !capture.read(frame) || frame.empty())
        return {};
    const double frames = capture.get(cv::CAP_PROP_FRAME_COUNT);
    const double fps = capture.get(cv::CAP_PROP_FPS);
    if (fps > 0 && frames > fps * kPictureAtMs / 1000) {
        cv::Mat later;
        if (capture.set(cv::CAP_PROP_POS_MSEC, kPictureAtMs) && capture.read(later) &&
            !later.empty() && later.type() == CV_8UC3)
            frame = later;
    }
    if (frame.type() != CV_8UC3)
        return {};
    return QImage(frame.data, frame.cols, frame.rows, int(frame.step), QImage::Format_BGR888)
        .copy();
}

QString resolutionName(Resolution r) {
    switch (r) {
    case Resolution::Grande:
        return QStringLiteral("grande");
    case Resolution::Moyenne:
        return QStringLiteral("moyenne");
    case Resolution::Faible:
        return QStringLiteral("faible");
    case Resolution::None:
        break;
    }
    return QString();
}

const QString kResolutionKey = QStringLiteral("export/resolution");
const QString kInsetKey = QStringLiteral("export/tailleAnnotations"); // -1: slider untouched
const QString kCompressKey = QStringLiteral("export/compresser");
const QString kFormatKey = QStringLiteral("export/format");

QSettings userSettings() {
    return QSettings(QStringLiteral("KEL"), QStringLiteral("KEL"));
}

} // namespace

Export::Export(const QString& dir, const QString& video)
    : projectDir(dir), studentVideoPath(video) {
    createChoices();
    createPreview();
    bLancerExportation = new QPushButton(this);
    bLancerExportation->setGeometry(100, 480, 131, 23);
    bAnnuler = new QPushButton(this);
    bAnnuler->setGeometry(100, 510, 131, 23);

    setWindowTitle(QStringLiteral("Paramètres d'exportation"));
    setFixedSize(335, 556);
    setWindowModality(Qt::WindowModal);
    show();

    connect(sliderTaille, &QSlider::valueChanged, this, &Export::tailleAnnotations);
    for (QRadioButton* b : {rbGrandeResolution, rbMoyenneResolution, rbFaibleResolution})
        connect(b, &QRadioButton::toggled, this, &Export::updatePreview);
    connect(bLancerExportation, &QPushButton::clicked, this, &Export::lancerExportation);
    connect(bAnnuler, &QPushButton::clicked, this, &Export::annuler);
    setTexts();
    m_studentPicture = studentPicture(studentVideoPath);
    restoreChoices();
    updatePreview();
}

void Export::createChoices() {
    rbSansPerte = new QRadioButton(this);
    rbSansPerte->setGeometry(30, 30, 141, 17);
    rbSansPerte->setEnabled(false);
    rbSansPerte->setFont(QFont(QStringLiteral("Verdana"), 8));
    rbGrandeResolution = new QRadioButton(this);
    rbGrandeResolution->setGeometry(30, 60, 131, 17);
    rbMoyenneResolution = new QRadioButton(this);
    rbMoyenneResolution->setGeometry(30, 90, 121, 17);
    rbFaibleResolution = new QRadioButton(this);
    rbFaibleResolution->setGeometry(30, 120, 121, 17);
    cbCompresserMontage = new QCheckBox(this);
    cbCompresserMontage->setGeometry(30, 150, 261, 17);
    labelFormat = new QLabel(this);
    labelFormat->setGeometry(30, 180, 65, 17);
    comboFormat = new QComboBox(this);
    comboFormat->setGeometry(100, 177, 131, 22);
    comboFormat->addItem(QStringLiteral("AVI"), QStringLiteral("avi"));
    comboFormat->addItem(QStringLiteral("MP4"), QStringLiteral("mp4"));
    comboFormat->setToolTip(QStringLiteral("AVI : le format habituel de KEL.\n"
                                           "MP4 : se lit dans un navigateur et sur un téléphone."));
}

// The montage's frame to scale, its inset, and the slider that sizes the inset.
void Export::createPreview() {
    // The montage frame and its inset, to scale; placed by updatePreview().
    previewVideo = new QLabel(this);
    previewVideo->setToolTip(
        QStringLiteral("Aperçu du montage : la place de l'annotation dans l'image, à l'échelle"));
    previewAnnotation = new QLabel(this);
    previewAnnotation->setAlignment(Qt::AlignCenter);
    previewAnnotation->setStyleSheet(QStringLiteral(
        "QLabel { background-color: rgba(255, 179, 0, 110); border: 2px solid rgb(255, 179, 0);"
        " color: white; font-weight: bold; }"));
    previewAnnotation->setAttribute(Qt::WA_TransparentForMouseEvents);
    QFont small = previewAnnotation->font();
    small.setPixelSize(10);
    previewAnnotation->setFont(small);
    sliderTaille = new QSlider(Qt::Horizontal, this);
    sliderTaille->setGeometry(30, 420, 271, 19);
    sliderTaille->setRange(0, 99);
    sliderTaille->setValue(0);
    sliderTaille->setTracking(true);
    labelTaille = new QLabel(this);
    labelTaille->setGeometry(100, 440, 131, 16);
    labelTaille->setFont(QFont(QStringLiteral("Verdana")));
}

void Export::setTexts() {
    rbSansPerte->setText(QStringLiteral("Montage sans perte"));
    rbGrandeResolution->setText(QStringLiteral("Grande résolution"));
    rbMoyenneResolution->setText(QStringLiteral("Moyenne résolution"));
    rbFaibleResolution->setText(QStringLiteral("Faible résolution"));
    cbCompresserMontage->setText(QStringLiteral("Compresser le montage video"));
    labelFormat->setText(QStringLiteral("Format :"));
    previewAnnotation->setText(QStringLiteral("Annotation"));
    labelTaille->setText(QStringLiteral("Taille des annotations"));
    bLancerExportation->setText(QStringLiteral("Lancer l'exportation"));
    bAnnuler->setText(QStringLiteral("Annuler"));
    // The widths were chosen for another platform's font: a text never gets clipped.
    for (QWidget* w : std::initializer_list<QWidget*>{
             rbSansPerte, rbGrandeResolution, rbMoyenneResolution, rbFaibleResolution,
             cbCompresserMontage, labelFormat, labelTaille, bLancerExportation, bAnnuler})
        w->resize(qMax(w->width(), w->sizeHint().width()), w->height());
}

Export::~Export() = default;

void Export::setProject(const QList<AnnotationInsertion>& plan,
                        const QStringList& annotationFiles) {
    m_plan = plan;
    m_annotationFiles = annotationFiles;
}

void Export::tailleAnnotations(int) {
    sizeChanged = true;
    updatePreview();
}

Resolution Export::checkedResolution() const {
    if (rbFaibleResolution->isChecked())
        return Resolution::Faible;
    if (rbMoyenneResolution->isChecked())
        return Resolution::Moyenne;
    if (rbGrandeResolution->isChecked())
        return Resolution::Grande;
    return Resolution::None;
}

MontageGeometry Export::chosenGeometry() const {
    const int v = sliderTaille->value();
    return montageGeometry(checkedResolution(), sizeChanged, largeInsetTop(v), largeInsetWidth(v),
                           largeInsetHeight(v));
}

QString Export::chosenFormat() const {
    return comboFormat->currentData().toString();
}

void Export::updatePreview() {
    const MontageGeometry g = chosenGeometry();
    const double scale = double(kPreviewWidth) / g.frameWidth;
    const int height = qRound(g.frameHeight * scale);
    previewVideo->setGeometry(kPreviewLeft, kPreviewBottom - height, kPreviewWidth, height);

    QPixmap frame(previewVideo->size());
    frame.fill(Qt::black);
    QPainter painter(&frame);
    if (!m_studentPicture.isNull()) {
        // Fitted with its proportions kept, on black, as the montage shows it.
        QSize fitted = m_studentPicture.size().scaled(frame.size(), Qt::KeepAspectRatio);
        fitted = fitted.expandedTo(QSize(1, 1));
        const QRect target((frame.width() - fitted.width()) / 2,
                           (frame.height() - fitted.height()) / 2, fitted.width(), fitted.height());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, m_studentPicture);
    } else {
        painter.setPen(QColor(0x90, 0x90, 0x90));
        painter.drawText(frame.rect().adjusted(0, 0, 0, -frame.height() / 3), Qt::AlignCenter,
                         QStringLiteral("Vidéo de l'élève"));
    }
    painter.setPen(QColor(0x80, 0x80, 0x80));
    painter.drawRect(frame.rect().adjusted(0, 0, -1, -1));
    painter.end();
    previewVideo->setPixmap(frame);

    // Both edges rounded, so that an inset on the frame's bottom stays on the preview's.
    const auto px = [scale](int v) { return qRound(v * scale); };
    const QRect inset = QRect(QPoint(px(0), px(g.insetTop)),
                              QPoint(px(g.insetWidth) - 1, px(g.insetTop + g.insetHeight) - 1)) &
                        QRect(QPoint(0, 0), previewVideo->size());
    previewAnnotation->setGeometry(inset.translated(previewVideo->pos()));
}

void Export::restoreChoices() {
    const QSettings settings = userSettings();
    const Resolution r = resolutionFromName(settings.value(kResolutionKey).toString());
    rbGrandeResolution->setChecked(r == Resolution::Grande);
    rbMoyenneResolution->setChecked(r == Resolution::Moyenne);
    rbFaibleResolution->setChecked(r == Resolution::Faible);
    cbCompresserMontage->setChecked(settings.value(kCompressKey, false).toBool());
    const int format = comboFormat->findData(settings.value(kFormatKey).toString());
    comboFormat->setCurrentIndex(qMax(0, format));
    bool ok = false;
    const int inset = settings.value(kInsetKey, -1).toInt(&ok);
    if (ok && inset >= sliderTaille->minimum() && inset <= sliderTaille->maximum()) {
        // Moved once, even if back to 0: the medium and small insets depend on it.
        sliderTaille->setValue(inset);
        tailleAnnotations(inset);
    }
}

void Export::saveChoices() const {
    QSettings settings = userSettings();
    settings.setValue(kResolutionKey, resolutionName(checkedResolution()));
    settings.setValue(kInsetKey, sizeChanged ? sliderTaille->value() : -1);
    settings.setValue(kCompressKey, cbCompresserMontage->isChecked());
    settings.setValue(kFormatKey, chosenFormat());
}

MontageJob Export::chosenJob() const {
    MontageJob job;
    job.studentVideoPath = studentVideoPath;
    job.projectDir = projectDir;
    job.geometry = chosenGeometry();
    job.insertions = m_plan;
    job.compress = cbCompresserMontage->isChecked();
    job.format = chosenFormat();
    return job;
}

void Export::lancerExportation() {
    saveChoices();
    hide();
    if (m_annotationFiles.isEmpty()) {
        dialogs().platformBox(
            QStringLiteral("KEL"),
            QStringLiteral("Aucune annotation n'est présente dans le répertoire de votre projet"),
            Dialogs::Icon::Warning);
        return;
    }
    emit launched(chosenJob(), m_annotationFiles);
}

void Export::annuler() {
    close();
}

} // namespace kel
