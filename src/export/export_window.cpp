#include "export_window.h"

#include "app/globals.h"
#include "common/dialogs.h"
#include "export/export_settings.h"
#include "export/montage_window.h"
#include "project/project_file.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimerEvent>

namespace kel {

Export::Export(const QString& dir, const QString& video)
    : projectDir(dir), studentVideoPath(video) {
    readProjectFile();

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
    // Framed rectangles standing for the montage frame and its inset.
    previewVideo = new QListWidget(this);
    previewVideo->setGeometry(30, 180, 271, 231);
    previewAnnotation = new QListWidget(this);
    previewAnnotation->setGeometry(30, 300, 115, 111);
    sliderTaille = new QSlider(Qt::Horizontal, this);
    sliderTaille->setGeometry(30, 420, 271, 19);
    sliderTaille->setRange(0, 99);
    sliderTaille->setValue(0);
    sliderTaille->setTracking(true);
    labelTaille = new QLabel(this);
    labelTaille->setGeometry(100, 440, 131, 16);
    labelTaille->setFont(QFont(QStringLiteral("Verdana")));
    bLancerExportation = new QPushButton(this);
    bLancerExportation->setGeometry(100, 480, 131, 23);
    bAnnuler = new QPushButton(this);
    bAnnuler->setGeometry(100, 510, 131, 23);

    setWindowTitle(QStringLiteral("Paramètres d'exportation"));
    setFixedSize(335, 556);
    setWindowModality(Qt::WindowModal);
    show();

    connect(sliderTaille, &QSlider::valueChanged, this, &Export::tailleAnnotations);
    connect(bLancerExportation, &QPushButton::clicked, this, &Export::lancerExportation);
    connect(bAnnuler, &QPushButton::clicked, this, &Export::annuler);

    rbSansPerte->setText(QStringLiteral("Montage sans perte"));
    rbGrandeResolution->setText(QStringLiteral("Grande résolution"));
    rbMoyenneResolution->setText(QStringLiteral("Moyenne résolution"));
    rbFaibleResolution->setText(QStringLiteral("Faible résolution"));
    cbCompresserMontage->setText(QStringLiteral("Compresser le montage video"));
    labelTaille->setText(QStringLiteral("Taille des annotations"));
    bLancerExportation->setText(QStringLiteral("Lancer l'exportation"));
    bAnnuler->setText(QStringLiteral("Annuler"));
    // The widths were chosen for another platform's font: a text never gets clipped.
    for (QWidget* w : std::initializer_list<QWidget*>{
             rbSansPerte, rbGrandeResolution, rbMoyenneResolution, rbFaibleResolution,
             cbCompresserMontage, labelTaille, bLancerExportation, bAnnuler})
        w->resize(qMax(w->width(), w->sizeHint().width()), w->height());

    exportFinished = false;
    exportRunning = false;
    sizeChanged = false;
    insetTop = largeInsetTop(0);
    insetWidth = largeInsetWidth(0);
    insetHeight = largeInsetHeight(0);
}

Export::~Export() {
    delete m_montage;
}

bool Export::isRendering() const {
    return m_montage && m_montage->isRendering();
}

void Export::readProjectFile() {
    if (projectDir.isEmpty())
        return;
    annotationSchedule = ProjectFile(projectDir).loadAnnotationSchedule();
}

void Export::tailleAnnotations(int iValue) {
    sizeChanged = true;
    previewAnnotation->setGeometry(30, 300 - iValue, 115 + iValue, 111 + iValue);
    insetTop = largeInsetTop(iValue);
    insetWidth = largeInsetWidth(iValue);
    insetHeight = largeInsetHeight(iValue);
}

void Export::applyResolutionChoice() {
    Resolution r = Resolution::None;
    if (rbFaibleResolution->isChecked())
        r = Resolution::Faible;
    else if (rbMoyenneResolution->isChecked())
        r = Resolution::Moyenne;
    else if (rbGrandeResolution->isChecked())
        r = Resolution::Grande;
    // From the slider rather than the members, which hold montage pixels after a launch.
    const int v = sliderTaille->value();
    const MontageGeometry g =
        montageGeometry(r, sizeChanged, largeInsetTop(v), largeInsetWidth(v), largeInsetHeight(v));
    frameWidth = g.frameWidth;
    frameHeight = g.frameHeight;
    insetTop = g.insetTop;
    insetWidth = g.insetWidth;
    insetHeight = g.insetHeight;
    captionWidth = g.captionWidth;
    captionHeight = g.captionHeight;
    captionFontPx = g.captionFontPx;
}

void Export::lancerExportation() {
    applyResolutionChoice();
    annotationFiles = ProjectFile::listAnnotationFiles(projectDir);
    compressMontage = cbCompresserMontage->isChecked();
    hide();
    if (annotationFiles.isEmpty()) {
        dialogs().platformBox(
            QStringLiteral("KEL"),
            QStringLiteral("Aucune annotation n'est présente dans le répertoire de votre projet"),
            Dialogs::Icon::Warning);
        return;
    }
    if (isRendering())
        return;
    exportRunning = true;
    delete m_montage;
    m_montage = new Mixing(studentVideoPath, projectDir, frameWidth, frameHeight, insetTop,
                           insetWidth, insetHeight, annotationFiles, annotationSchedule,
                           captionWidth, captionHeight, captionFontPx, compressMontage);
    if (relayTimerId)
        killTimer(relayTimerId);
    relayTimerId = startTimer(1000);
    emit montageStarted();
}

void Export::annuler() {
    close();
}

void Export::timerEvent(QTimerEvent*) {
    exportFinished = montageCompressionFinished;
    // A failed montage never completes: nothing left to relay.
    if (exportFinished || (m_montage && m_montage->hasFailed())) {
        killTimer(relayTimerId);
        relayTimerId = 0;
    }
}

} // namespace kel
