#include "export_window.h"

#include "common/dialogs.h"
#include "export/export_settings.h"
#include "export/film_composer.h"
#include "export/video_decoder.h"
#include "export/yuv_picture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>

#include <algorithm>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace kel {

namespace {

// The frame's preview: at most as wide as the slider and as tall as a 4:3 frame of that width,
// centred, its bottom edge just above the slider; its size follows the montage's proportions.
constexpr int kPreviewLeft = 30;
constexpr int kPreviewWidth = 271;
constexpr int kPreviewMaxHeight = 204;
constexpr int kPreviewBottom = 411;
// Comments are transcoded to 640 x 480 whatever the camera gave.
const cv::Size kCommentDisplay(640, 480);
// A picture a second in: the very first frames are often black.
constexpr double kPictureAtMs = 1000;

// One picture of the student's video as the film shows it (upright, in square pixels), a second
// in when it lasts that long; a null image when it cannot be read. `display`: its full shape.
QImage studentPicture(const QString& path, QSize* display) {
    VideoDecoder decoder;
    if (path.isEmpty() || !QFileInfo(path).isFile() || !decoder.open(path) || !decoder.next())
        return {};
    double nextMs = 0;
    while (decoder.peek(&nextMs) && nextMs <= kPictureAtMs && decoder.next()) {
    }
    const cv::Size upright = decoder.displaySize();
    *display = QSize(upright.width, upright.height);
    // No larger than twice the preview: cheap, and sharp enough.
    const QSize small =
        display->boundedTo(QSize(2 * kPreviewWidth, 2 * kPreviewWidth)).expandedTo(QSize(2, 2));
    const QSize fitted = display->scaled(small, Qt::KeepAspectRatio);
    const cv::Mat picture =
        decoder.picture(yuv::evenDown(cv::Size(fitted.width(), fitted.height())));
    if (picture.empty())
        return {};
    cv::Mat bgr;
    cv::cvtColor(picture, bgr, cv::COLOR_YUV2BGR_I420);
    return QImage(bgr.data, bgr.cols, bgr.rows, int(bgr.step), QImage::Format_BGR888).copy();
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

// A rectangle of the montage's frame on the preview: both edges rounded, so that a box on the
// frame's edge stays on the preview's.
QRect scaledRect(const cv::Rect& r, double scale) {
    const auto px = [scale](int v) { return qRound(v * scale); };
    return QRect(QPoint(px(r.x), px(r.y)), QPoint(px(r.x + r.width) - 1, px(r.y + r.height) - 1));
}

const QString kResolutionKey = QStringLiteral("export/resolution");
const QString kInsetKey = QStringLiteral("export/tailleAnnotations"); // -1: slider untouched
const QString kCompressKey = QStringLiteral("export/compresser");
const QString kFormatKey = QStringLiteral("export/format");
const QString kLayoutKey = QStringLiteral("export/disposition");
const QString kHdName = QStringLiteral("hd");

QSettings userSettings() {
    return QSettings(QStringLiteral("KEL"), QStringLiteral("KEL"));
}

} // namespace

Export::Export(const QString& dir, const QString& video)
    : projectDir(dir), studentVideoPath(video) {
    m_studentPicture = studentPicture(studentVideoPath, &m_studentDisplay);
    m_portrait = m_studentDisplay.height() > m_studentDisplay.width();
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
    for (QRadioButton* b : {rbGrandeResolution, rbMoyenneResolution, rbFaibleResolution, rbHd})
        connect(b, &QRadioButton::toggled, this, &Export::choicesChanged);
    for (QComboBox* c : {comboFormat, comboDisposition})
        connect(c, &QComboBox::currentIndexChanged, this, &Export::choicesChanged);
    connect(bLancerExportation, &QPushButton::clicked, this, &Export::lancerExportation);
    connect(bAnnuler, &QPushButton::clicked, this, &Export::annuler);
    setTexts();
    restoreChoices();
    choicesChanged();
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
    rbHd = new QRadioButton(this);
    rbHd->setGeometry(180, 60, 131, 17);
    rbHd->setToolTip(QStringLiteral("MP4 seulement : la taille des vidéos en ligne, en hauteur si "
                                    "la vidéo de l'élève est filmée en hauteur"));
    labelDisposition = new QLabel(this);
    labelDisposition->setGeometry(180, 90, 131, 17);
    comboDisposition = new QComboBox(this);
    comboDisposition->setGeometry(180, 110, 147, 22); // "Grande annotation" whole
    comboDisposition->addItem(QStringLiteral("Incrustation"), QStringLiteral("incrustation"));
    comboDisposition->addItem(QStringLiteral("Grande annotation"), QStringLiteral("grande"));
    comboDisposition->addItem(QStringLiteral("Côte à côte"), QStringLiteral("cote"));
    comboDisposition->setToolTip(
        QStringLiteral("MP4 seulement : la place de l'annotation pendant qu'elle est jouée.\n"
                       "Incrustation : dans le coin, à la taille du curseur.\n"
                       "Grande annotation : au moins un tiers de la largeur et la moitié de la "
                       "hauteur.\n"
                       "Côte à côte : l'élève et l'annotation, chacun dans une moitié."));
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
    rbHd->setText(m_portrait ? QStringLiteral("HD (720×1280)") : QStringLiteral("HD (1280×720)"));
    labelDisposition->setText(QStringLiteral("Disposition :"));
    previewAnnotation->setText(QStringLiteral("Annotation"));
    labelTaille->setText(QStringLiteral("Taille des annotations"));
    bLancerExportation->setText(QStringLiteral("Lancer l'exportation"));
    bAnnuler->setText(QStringLiteral("Annuler"));
    // The widths were chosen for another platform's font: a text never gets clipped.
    for (QWidget* w : std::initializer_list<QWidget*>{
             rbSansPerte, rbGrandeResolution, rbMoyenneResolution, rbFaibleResolution,
             cbCompresserMontage, labelFormat, rbHd, labelDisposition, labelTaille,
             bLancerExportation, bAnnuler})
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
    // The hd frame grows the large frame's inset.
    if (rbHd->isChecked())
        return Resolution::Grande;
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

MontageLayout Export::chosenLayout() const {
    MontageLayout layout = MontageLayout::Incrustation;
    if (chosenFormat() == QLatin1String("mp4"))
        layoutFromName(comboDisposition->currentData().toString(), &layout);
    return layout;
}

bool Export::chosenHd() const {
    return rbHd->isChecked() && chosenFormat() == QLatin1String("mp4");
}

MontageGeometry Export::filmGeometry() const {
    const MontageGeometry g = chosenGeometry();
    return chosenHd() ? hdGeometry(g, m_portrait) : g;
}

void Export::choicesChanged() {
    updateControls();
    updatePreview();
}

// Only what means something for the format, size and layout chosen can be changed.
void Export::updateControls() {
    const bool mp4 = chosenFormat() == QLatin1String("mp4");
    // The AVI has no hd: its nearest size.
    if (!mp4 && rbHd->isChecked())
        rbGrandeResolution->setChecked(true);
    cbCompresserMontage->setEnabled(!mp4);
    cbCompresserMontage->setToolTip(mp4 ? QStringLiteral("Un montage MP4 est toujours compressé.")
                                        : QString());
    rbHd->setEnabled(mp4);
    labelDisposition->setEnabled(mp4);
    comboDisposition->setEnabled(mp4);
    // Without a size the slider counts for nothing; the film's other layouts size the comment
    // themselves.
    const bool inset =
        checkedResolution() != Resolution::None && chosenLayout() == MontageLayout::Incrustation;
    sliderTaille->setEnabled(inset);
    labelTaille->setEnabled(inset);
}

void Export::updatePreview() {
    const MontageGeometry g = filmGeometry();
    const double scale =
        std::min(double(kPreviewWidth) / g.frameWidth, double(kPreviewMaxHeight) / g.frameHeight);
    const int width = qRound(g.frameWidth * scale), height = qRound(g.frameHeight * scale);
    previewVideo->setGeometry(kPreviewLeft + (kPreviewWidth - width) / 2, kPreviewBottom - height,
                              width, height);

    // The film's frame while a comment plays, placed by the renderer's own composer; the AVI's
    // student fills its frame under the inset.
    const bool film = chosenFormat() == QLatin1String("mp4");
    const FilmComposer composer(g, chosenLayout());
    // An unread video stands as a camera's 4:3 picture.
    const cv::Size display = m_studentDisplay.isEmpty()
                                 ? kCommentDisplay
                                 : cv::Size(m_studentDisplay.width(), m_studentDisplay.height());
    const QRect frameRect(QPoint(0, 0), previewVideo->size());
    const QRect studentArea =
        film ? scaledRect(composer.studentRect(display, true), scale) & frameRect : frameRect;

    QPixmap frame(previewVideo->size());
    frame.fill(Qt::black);
    QPainter painter(&frame);
    if (!m_studentPicture.isNull()) {
        QRect target = studentArea;
        if (!film) {
            // Fitted with its proportions kept, on black, as the montage shows it.
            QSize fitted = m_studentPicture.size().scaled(frame.size(), Qt::KeepAspectRatio);
            fitted = fitted.expandedTo(QSize(1, 1));
            target = QRect((frame.width() - fitted.width()) / 2,
                           (frame.height() - fitted.height()) / 2, fitted.width(), fitted.height());
        }
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, m_studentPicture);
    } else {
        painter.setPen(QColor(0x90, 0x90, 0x90));
        painter.drawText(studentArea.adjusted(0, 0, 0, -studentArea.height() / 3),
                         Qt::AlignCenter | Qt::TextWordWrap, QStringLiteral("Vidéo de l'élève"));
    }
    painter.setPen(QColor(0x80, 0x80, 0x80));
    painter.drawRect(frame.rect().adjusted(0, 0, -1, -1));
    painter.end();
    previewVideo->setPixmap(frame);

    const cv::Rect box = film ? composer.commentBox(kCommentDisplay)
                              : cv::Rect(0, g.insetTop, g.insetWidth, g.insetHeight);
    previewAnnotation->setGeometry(
        (scaledRect(box, scale) & frameRect).translated(previewVideo->pos()));
}

void Export::restoreChoices() {
    // A first export makes what a teacher can send: the MP4 in hd, side by side.
    const QSettings settings = userSettings();
    const int format = comboFormat->findData(settings.value(kFormatKey, "mp4").toString());
    comboFormat->setCurrentIndex(qMax(0, format));
    const int layout = comboDisposition->findData(settings.value(kLayoutKey, "cote").toString());
    comboDisposition->setCurrentIndex(layout >= 0 ? layout : comboDisposition->count() - 1);
    const QString size = settings.value(kResolutionKey, kHdName).toString();
    const Resolution r = resolutionFromName(size);
    rbHd->setChecked(size == kHdName);
    rbGrandeResolution->setChecked(r == Resolution::Grande);
    rbMoyenneResolution->setChecked(r == Resolution::Moyenne);
    rbFaibleResolution->setChecked(r == Resolution::Faible);
    cbCompresserMontage->setChecked(settings.value(kCompressKey, false).toBool());
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
    settings.setValue(kResolutionKey,
                      rbHd->isChecked() ? kHdName : resolutionName(checkedResolution()));
    settings.setValue(kInsetKey, sizeChanged ? sliderTaille->value() : -1);
    settings.setValue(kCompressKey, cbCompresserMontage->isChecked());
    settings.setValue(kFormatKey, chosenFormat());
    settings.setValue(kLayoutKey, comboDisposition->currentData().toString());
}

MontageJob Export::chosenJob() const {
    MontageJob job;
    job.studentVideoPath = studentVideoPath;
    job.projectDir = projectDir;
    job.geometry = chosenGeometry();
    job.insertions = m_plan;
    job.compress = cbCompresserMontage->isChecked();
    job.format = chosenFormat();
    job.layout = chosenLayout();
    job.hd = chosenHd();
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
