#include "help_window.h"

#include "common/dialogs.h"
#include "common/resources.h"
#include "common/version.h"
#include "help/manual_view.h"
#include "playback/seek_slider.h"
#include "playback/video_player.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTextEdit>
#include <QVBoxLayout>

namespace kel {

namespace {

const char* const playText = ">";
const char* const pauseText = "||";

QString toggleText(const char* text) {
    return QCoreApplication::translate("MainWindow", text);
}

QPushButton* button(QWidget* parent, QRect geometry, const QString& text, const QFont& font) {
    auto* b = new QPushButton(text, parent);
    b->setGeometry(geometry);
    b->setFont(font);
    return b;
}

QFont verdana9() {
    return QFont(QStringLiteral("Verdana"), 9);
}
QFont courier10Bold() {
    return QFont(QStringLiteral("Courier"), 10, QFont::Bold);
}

QString missingVideoText() {
    return QStringLiteral("Vidéo LSF non installée : voir la documentation en français.");
}

// The play/pause rule of both help videos.
void togglePlayback(VideoPlayer* player, QPushButton* toggle) {
    if (!player->isPaused()) {
        toggle->setText(toggleText(playText));
        player->pause();
        return;
    }
    toggle->setText(toggleText(pauseText));
    int at = player->currentTime();
    if (at == player->totalTime())
        at = 0;
    player->seek(at);
    player->play();
}

// Stands where an absent video would play, so that the teacher is not left before a black
// rectangle.
void showVideoMissing(VideoPlayer* player) {
    auto* notice = new QLabel(missingVideoText(), player->parentWidget());
    notice->setObjectName(QStringLiteral("videoAbsente"));
    notice->setGeometry(player->geometry());
    notice->setAlignment(Qt::AlignCenter);
    notice->setWordWrap(true);
    notice->setMargin(16);
    notice->setFont(verdana9());
    notice->setFrameShape(QFrame::StyledPanel);
    notice->setAutoFillBackground(true);
    QPalette palette = notice->palette();
    palette.setColor(QPalette::Window, QColor(0xee, 0xee, 0xee));
    palette.setColor(QPalette::WindowText, QColor(0x20, 0x20, 0x20));
    notice->setPalette(palette);
    player->hide();
}

// Plays `name` at once. The sign-language videos are made by each institution and may be absent:
// a notice then takes the player's place and its controls are unusable.
void startVideo(VideoPlayer* player, SeekSlider* slider, QPushButton* toggle, const QString& name) {
    const QString path = resourcePath(name);
    if (!QFileInfo(path).isFile()) {
        slider->setEnabled(false);
        toggle->setEnabled(false);
        showVideoMissing(player);
        return;
    }
    // At its end a video waits paused on its last picture, so that the toggle starts it again
    // from the beginning in one click.
    QObject::connect(player, &VideoPlayer::finished, toggle, [player, toggle] {
        toggle->setText(toggleText(playText));
        player->pause();
        player->seek(player->totalTime());
    });
    player->load(path);
    player->play();
}

// A closed window is only hidden: its video must not go on playing (and sounding) unseen.
class PauseOnClose : public QObject {
public:
    PauseOnClose(QWidget* window, VideoPlayer* player, QPushButton* toggle)
        : QObject(window), m_player(player), m_toggle(toggle) {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Close && m_player->isPlaying()) {
            m_toggle->setText(toggleText(playText));
            m_player->pause();
        }
        return false;
    }

private:
    VideoPlayer* m_player;
    QPushButton* m_toggle;
};

// "Vani" is seldom installed and the fonts that stand in for it run wider: the label's text
// shrinks until it fits its fixed width rather than being cut.
void fitToWidth(QLabel* label) {
    QFont font = label->font();
    const QString text = label->text().trimmed();
    while (font.pointSizeF() > 6 && QFontMetrics(font).horizontalAdvance(text) > label->width())
        font.setPointSizeF(font.pointSizeF() - 0.5);
    label->setFont(font);
}

QString notice() {
    // __DATE__ is "Mmm dd yyyy".
    return QStringLiteral("Édition ") + QLatin1String(__DATE__).right(4);
}

QString credits() {
    return QStringLiteral("KEL aide les enseignants de LSF à commenter les vidéos de leurs "
                          "élèves par des annotations filmées à la webcam, puis à leur remettre "
                          "un montage.\n\nConstruit avec Qt 6, OpenCV et ffmpeg.");
}

} // namespace

HelpW::HelpW() : QMainWindow(nullptr) {
    videoPlayer = new VideoPlayer(this);
    videoPlayer->setGeometry(260, 30, 295, 221);
    videoSlider = new SeekSlider(this);
    videoSlider->setPlayer(videoPlayer);
    videoSlider->setGeometry(260, 272, 295, 15);
    bPlay = button(this, {259, 253, 31, 18}, QString(), courier10Bold());
    bDocFr = button(this, {240, 297, 201, 23}, QString(), verdana9());
    bFermer = button(this, {470, 297, 91, 23}, QString(), verdana9());
    bFermer->setIconSize(QSize(20, 20));
    bDocLSF = button(this, {12, 297, 201, 23}, QString(), verdana9());
    versionLabel = new QLabel(this);
    versionLabel->setGeometry(60, 30, 121, 21);
    versionLabel->setFont(QFont(QStringLiteral("Vani"), 12));
    noticeLabel = new QLabel(this);
    noticeLabel->setGeometry(67, 70, 101, 21);
    noticeLabel->setFont(QFont(QStringLiteral("Vani"), 10));
    creditsText = new QTextEdit(this);
    creditsText->setGeometry(12, 120, 231, 131);
    creditsText->setReadOnly(true);

    startVideo(videoPlayer, videoSlider, bPlay, QStringLiteral("RORiv.avi"));
    new PauseOnClose(this, videoPlayer, bPlay);

    setWindowTitle(QStringLiteral("Aide"));
    setFixedSize(575, 330);
    setWindowModality(Qt::WindowModal);
    show();

    connect(bDocLSF, &QPushButton::clicked, this, &HelpW::docLSF);
    connect(bDocFr, &QPushButton::clicked, this, &HelpW::docFr);
    connect(bFermer, &QPushButton::clicked, this, &HelpW::fermer);
    connect(bPlay, &QPushButton::clicked, this, &HelpW::play);

    bDocLSF->setText(QStringLiteral("Documentation en LSF"));
    bDocFr->setText(QStringLiteral("Documentation en français"));
    bFermer->setText(QStringLiteral("Fermer"));
    versionLabel->setText(QStringLiteral("KEL version " KEL_VERSION " "));
    noticeLabel->setText(notice());
    creditsText->setPlainText(credits());
    fitToWidth(versionLabel);
    fitToWidth(noticeLabel);
    bPlay->setText(toggleText(pauseText));
}

void HelpW::docLSF() {
    lsfWindow = new QMainWindow(nullptr);
    lsfPlayer = new VideoPlayer(lsfWindow);
    lsfPlayer->setGeometry(12, 10, 401, 291);
    lsfSlider = new SeekSlider(lsfWindow);
    lsfSlider->setPlayer(lsfPlayer);
    lsfSlider->setGeometry(12, 322, 400, 15);
    bPlayLSF = button(lsfWindow, {11, 302, 31, 18}, toggleText(pauseText), courier10Bold());
    bFermerLSF = button(lsfWindow, {130, 340, 151, 23}, QStringLiteral("Fermer"), verdana9());
    connect(bPlayLSF, &QPushButton::clicked, this, &HelpW::playLSF);
    connect(bFermerLSF, &QPushButton::clicked, this, &HelpW::fermerHelpLsf);

    startVideo(lsfPlayer, lsfSlider, bPlayLSF, QStringLiteral("MeKEL.avi"));
    new PauseOnClose(lsfWindow, lsfPlayer, bPlayLSF);

    lsfWindow->setWindowTitle(QStringLiteral("Aide LSF"));
    lsfWindow->resize(426, 372);
    lsfWindow->setWindowModality(Qt::WindowModal);
    lsfWindow->show();
}

void HelpW::docFr() {
    frWindow = new QMainWindow(nullptr);
    frContainer = new QWidget(frWindow);
    frWindow->setCentralWidget(frContainer);
    auto* manual = new ManualView(frContainer);
    bFermerFr = button(frContainer, {190, 760, 181, 23}, QStringLiteral("Fermer"), verdana9());
    bFermerFr->setFixedSize(181, 23);
    connect(bFermerFr, &QPushButton::clicked, this, &HelpW::fermerHelpFr);
    auto* layout = new QVBoxLayout(frContainer);
    layout->addWidget(manual, 1);
    layout->addWidget(bFermerFr, 0, Qt::AlignHCenter);

    if (!manual->load(resourcePath(QStringLiteral("KELMan.pdf"))))
        dialogs().plainBox(QStringLiteral("L'aide ne peut pas être affichée. \r\n"
                                          "Le manuel KELMan.pdf est absent ou endommagé."));

    frWindow->setWindowTitle(QStringLiteral("Aide Français"));
    // Wide enough for the contents beside a page shown near its printed size, where the screen
    // allows.
    const QRect screen = frWindow->screen()->availableGeometry();
    frWindow->resize(qMin(1200, screen.width() - 40), qMin(830, screen.height() - 60));
    frWindow->setWindowModality(Qt::WindowModal);
    frWindow->show();
}

void HelpW::fermer() {
    close();
}

void HelpW::fermerHelpLsf() {
    if (lsfWindow)
        lsfWindow->close();
}

void HelpW::fermerHelpFr() {
    if (frWindow)
        frWindow->close();
}

void HelpW::play() {
    togglePlayback(videoPlayer, bPlay);
}

void HelpW::playLSF() {
    togglePlayback(lsfPlayer, bPlayLSF);
}

} // namespace kel
