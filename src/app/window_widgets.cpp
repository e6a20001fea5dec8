#include "window_widgets.h"

#include "common/buttons.h"
#include "common/timecode.h"
#include "export/montage_plan.h"
#include "playback/comment_player.h"
#include "playback/player_widget.h"
#include "playback/seek_slider.h"
#include "playback/video_player.h"
#include "project/project_session.h"
#include "recording/opencv_widget.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTimer>

namespace kel {

namespace {
constexpr QSize kDefaultSize(975, 515);
constexpr int kStatusShownMs = 2500;
constexpr int kStatusFadeMs = 1000;

template <typename W> W* named(W* widget, const char* name) {
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// Four corners pointing out, the usual sign for full screen; drawn, as no icon theme is sure to
// have one.
QIcon fullScreenIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QPen(QColor(40, 40, 40), 3, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    for (const auto& [corner, dx, dy] : {std::tuple{QPoint(4, 4), 1, 1},
                                         {QPoint(27, 4), -1, 1},
                                         {QPoint(27, 27), -1, -1},
                                         {QPoint(4, 27), 1, -1}})
        painter.drawPolyline(
            QList<QPoint>{corner + QPoint(0, 8 * dy), corner, corner + QPoint(8 * dx, 0)});
    return QIcon(pixmap);
}

QFrame* separator(QWidget* parent, QRect geometry) {
    auto* line = new QFrame(parent);
    line->setGeometry(geometry);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}
} // namespace

QString annotationLabel(const SessionAnnotation& a) {
    QStringList parts{QStringLiteral("n°%1").arg(a.number)};
    if (!a.title.isEmpty())
        parts << QStringLiteral("« %1 »").arg(a.title);
    if (a.hasEntry) {
        const ProjectFile::Entry& e = a.entry;
        parts << minutesText(positionKeyMs(e.framePosition));
        parts << (e.type == 1 ? QStringLiteral("pause") : QStringLiteral("lecture"));
        if (e.duration > 0)
            parts << QLocale(QLocale::French)
                             .toString(keptLength(e.duration, e.cutStart, e.cutEnd) / 1000, 'f',
                                       1) +
                         QStringLiteral(" s");
    }
    QString label = parts.join(QStringLiteral(" · "));
    if (a.hasEntry && (a.entry.cutStart > 0 || a.entry.cutEnd > 0))
        label += QStringLiteral(" ✂");
    return label;
}

// In the order of the original window, which sets the order of the keyboard focus.
WindowWidgets::WindowWidgets(QWidget* window, MyVideoPlayer* student) : layout(kDefaultSize) {
    createCommentArea(window);
    createCommandButtons(window);
    createProjectBar(window);
    for (QWidget* w : std::initializer_list<QWidget*>{
             bOuvrirVideo, bEnregistrerProjet, bExporter, bOuvrirAnnotation, bEnregistrerAnnotation,
             bCouperDebut, bCouperFin, bSupprimerAnnotation, comboAnnotations, bTitreAnnotation})
        w->setEnabled(false);
    anchorWidgets(student);
}

void WindowWidgets::createCommentArea(QWidget* window) {
    comment = new CommentPlayer(window);
    webcamView = named(new QOpenCVWidget(window), "webcamView");
    webcamView->setGeometry(500, 55, 451, 375);
}

void WindowWidgets::createCommandButtons(QWidget* window) {
    const QFont verdana(QStringLiteral("Verdana"), 11, QFont::Normal);
    const auto command = [window](const char* name, int x, const char* icon, const char* tip) {
        return iconButton(window, name, {x, 11, 31, 31}, QString::fromUtf8(icon), 25,
                          QString::fromUtf8(tip));
    };
    bNouveau = command("bNouveau", 20, "fichier.png", "Créer un nouveau projet");
    bOuvrirProjet = command("bOuvrirProjet", 55, "ouvrir-projet.png", "Ouvrir un projet existant");
    bOuvrirVideo = command("bOuvrirVideo", 90, "openVideo.png", "Ouvrir video");
    bEnregistrerProjet =
        command("bEnregistrerProjet", 125, "enregistrer.png", "Enregistrer projet");
    bExporter = command("bExporter", 160, "export.png", "Exporter");
    bAide = textButton(window, "bAide", {195, 11, 31, 31}, QStringLiteral("?"), verdana,
                       QStringLiteral("Aide"));
    bQuitter = command("bQuitter", 230, "quitter.png", "Quitter");
    const auto tool = [window](const char* name, int x, const char* icon, int size,
                               const char* tip) {
        return iconButton(window, name, {x, 470, 31, 27}, QString::fromUtf8(icon), size,
                          QString::fromUtf8(tip));
    };
    bOuvrirAnnotation =
        tool("bOuvrirAnnotation", 570, "ouvrir-video.png", 25, "Ouvrir une annotation");
    bEnregistrerAnnotation = tool("bEnregistrerAnnotation", 610, "record.png", 25,
                                  "Enregistrer/Terminer l'enregistrement");
    bCouperDebut = tool("bCouperDebut", 650, "Couper-debut.png", 30,
                        "Couper le début de l'annotation, avant la position courante");
    bCouperFin = tool("bCouperFin", 690, "Couper-fin.png", 30,
                      "Couper la fin de l'annotation, après la position courante");
    bSupprimerAnnotation =
        textButton(window, "bSupprimerAnnotation", {730, 470, 31, 27}, QStringLiteral("X"), verdana,
                   QStringLiteral("Supprimer l'annotation"));
    comboAnnotations = named(new QComboBox(window), "comboAnnotations");
    comboAnnotations->setGeometry(780, 474, 161, 21);
    // Shown while the project has annotations and none is in the player.
    comboAnnotations->setPlaceholderText(QStringLiteral("Choisir…"));
    // The items say more than the box has room for: the list opens wider, and the box's tooltip
    // gives the whole text.
    comboAnnotations->view()->setMinimumWidth(250);
    QObject::connect(comboAnnotations, &QComboBox::currentTextChanged, comboAnnotations,
                     &QWidget::setToolTip);
    bTitreAnnotation =
        textButton(window, "bTitreAnnotation", {945, 474, 24, 21}, QStringLiteral("✎"), verdana,
                   QStringLiteral("Titre de l'annotation"));
}

void WindowWidgets::createProjectBar(QWidget* window) {
    lineLeft = separator(window, {20, 40, 441, 16});
    lineRight = separator(window, {510, 40, 431, 16});
    progressBar = named(new QProgressBar(window), "progressBar");
    progressBar->setGeometry(510, 23, 441, 20);
    progressBar->setValue(0);
    labelProjet = named(new QLabel(window), "labelProjet");
    labelProjet->setGeometry(268, 14, 100, 25);
    labelStatut = named(new QLabel(window), "labelStatut");
    labelStatut->setGeometry(labelProjet->geometry());
    labelStatut->setAutoFillBackground(true);
    auto* opacity = new QGraphicsOpacityEffect(labelStatut);
    labelStatut->setGraphicsEffect(opacity);
    labelStatut->hide();
    m_statusFade = new QPropertyAnimation(opacity, "opacity", labelStatut);
    m_statusFade->setDuration(kStatusFadeMs);
    m_statusFade->setEndValue(0.0);
    QObject::connect(m_statusFade, &QPropertyAnimation::finished, labelStatut, &QWidget::hide);
    m_statusTimer = new QTimer(labelStatut);
    m_statusTimer->setSingleShot(true);
    m_statusTimer->setInterval(kStatusShownMs);
    QObject::connect(m_statusTimer, &QTimer::timeout, m_statusFade,
                     [fade = m_statusFade] { fade->start(); });
    bPleinEcran = textButton(window, "bPleinEcran", {371, 14, 26, 25}, QString(), window->font(),
                             QStringLiteral("Vidéo de l'élève en plein écran (double clic sur la "
                                            "vidéo ; Échap pour revenir)"));
    bPleinEcran->setIcon(fullScreenIcon());
    bPleinEcran->setIconSize(QSize(16, 16));
    bAnnulerExport = textButton(window, "bAnnulerExport", {953, 23, 20, 20}, QStringLiteral("×"),
                                window->font(), QStringLiteral("Annuler l'export"));
    bAnnulerExport->setAccessibleName(QStringLiteral("Annuler l'export"));
    bAnnulerExport->hide();
    cbMiroir = named(new QCheckBox(QStringLiteral("Enregistrer en miroir"), window), "cbMiroir");
    // Free room under the preview, clear of the annotation slider below it.
    cbMiroir->setGeometry(800, 430, 160, 20);
    cbMiroir->setToolTip(
        QStringLiteral("Coché : les annotations sont enregistrées en miroir, comme dans l'aperçu "
                       "de la webcam.\nDécoché : elles sont enregistrées telles que la caméra "
                       "voit l'enseignant (l'écriture se lit à l'endroit, la main droite est la "
                       "main droite)."));
}

void WindowWidgets::anchorWidgets(MyVideoPlayer* student) {
    using H = WindowLayout::Horizontal;
    using V = WindowLayout::Vertical;
    const auto anchor = [this](WindowLayout::Half half, H h, V v, const QList<QWidget*>& widgets) {
        for (QWidget* w : widgets)
            layout.add(w, {half, h, v});
    };
    const auto left = WindowLayout::Half::Left;
    const auto right = WindowLayout::Half::Right;
    const MyVideoPlayer* p = student;
    anchor(left, H::Stretch, V::Stretch, {p->lecteur});
    anchor(left, H::Stretch, V::Bottom, {p->seekSlider, p->preparation});
    anchor(left, H::Left, V::Bottom,
           {p->bDebut, p->bRetourRapide, p->bTramePrecedente, p->bLecture, p->bTrameSuivante,
            p->bAvanceRapide, p->bFin, p->labelTemps});
    anchor(left, H::Right, V::Top, {p->vitesse, bPleinEcran});
    anchor(WindowLayout::Half::Bar, H::Left, V::Top,
           {bNouveau, bOuvrirProjet, bOuvrirVideo, bEnregistrerProjet, bExporter, bAide, bQuitter,
            labelProjet, labelStatut});
    anchor(left, H::Stretch, V::Top, {lineLeft});
    const QList<QWidget*> c = comment->widgets(); // player, play, pause, slider, time
    anchor(right, H::Stretch, V::Stretch, {c[0], webcamView});
    anchor(right, H::Stretch, V::Bottom, {c[3]});
    anchor(right, H::Left, V::Bottom,
           {c[1], c[2], c[4], bOuvrirAnnotation, bEnregistrerAnnotation, bCouperDebut, bCouperFin,
            bSupprimerAnnotation});
    anchor(right, H::Right, V::Bottom, {cbMiroir, comboAnnotations, bTitreAnnotation});
    anchor(right, H::Stretch, V::Top, {lineRight, progressBar});
    anchor(right, H::Right, V::Top, {bAnnulerExport});
}

void WindowWidgets::showCommentArea(bool shown, bool preview) {
    webcamView->setVisible(!shown && preview);
    comment->setShown(shown);
}

void WindowWidgets::showStatus(const QString& text) {
    labelStatut->setText(QStringLiteral("✔ ") + text);
    m_statusFade->stop();
    static_cast<QGraphicsOpacityEffect*>(labelStatut->graphicsEffect())->setOpacity(1.0);
    labelStatut->show();
    labelStatut->raise();
    m_statusTimer->start();
}

} // namespace kel
