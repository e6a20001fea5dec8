#pragma once

#include "export/export_settings.h"

#include <QImage>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSlider;

namespace kel {

class Mixing;

// The export settings window: frame size, compression, file format and inset size, then the
// launch of the montage. Once launched it hides; the montage tells of its end. The choices of the
// last launch are offered again at the next export.
class Export : public QMainWindow {
    Q_OBJECT
public:
    Export(const QString& projectDir, const QString& studentVideoPath);
    // Stops a montage still rendering.
    ~Export() override;

    // Widgets, in creation order.
    QRadioButton* rbSansPerte;
    QRadioButton* rbGrandeResolution;
    QRadioButton* rbMoyenneResolution;
    QRadioButton* rbFaibleResolution;
    QCheckBox* cbCompresserMontage;
    QLabel* labelFormat;
    QComboBox* comboFormat;
    // The montage's frame to scale, over a picture of the student's video, and its inset.
    QLabel* previewVideo;
    QLabel* previewAnnotation;
    QSlider* sliderTaille;
    QLabel* labelTaille;
    QPushButton* bLancerExportation;
    QPushButton* bAnnuler;

    QString projectDir;
    QString studentVideoPath;
    QStringList annotationFiles;
    QList<int> annotationSchedule;
    bool sizeChanged = false;
    bool compressMontage = false;
    int insetTop = 330;
    int insetWidth = 170;
    int insetHeight = 150;
    int frameWidth = 400;
    int frameHeight = 300;
    int captionWidth = 57;
    int captionHeight = 16;
    int captionFontPx = 14;

    // Frame, inset and caption sizes from the checked resolution and the slider.
    void applyResolutionChoice();
    // The sizes a launch would use now; changes nothing.
    MontageGeometry chosenGeometry() const;
    // "avi" or "mp4".
    QString chosenFormat() const;
    void readProjectFile();
    // The montage started by this window, if any.
    Mixing* montage() const { return m_montage; }
    bool isRendering() const;

public slots:
    void lancerExportation();
    void annuler();
    void tailleAnnotations(int iValue);

signals:
    // A montage has started rendering (montage() is set).
    void montageStarted();

private:
    Resolution checkedResolution() const;
    void updatePreview();
    void restoreChoices();
    void saveChoices() const;

    Mixing* m_montage = nullptr;
    QImage m_studentPicture;
};

} // namespace kel
