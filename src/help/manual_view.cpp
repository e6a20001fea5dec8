#include "manual_view.h"

#include <QAction>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPdfBookmarkModel>
#include <QPdfDocument>
#include <QPdfView>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <array>

namespace kel {

namespace {

// The sizes that Ctrl + and Ctrl - go through, from wherever the view stands.
constexpr std::array<qreal, 13> zoomSteps{
    ManualView::minZoom, 0.67, 0.8, 0.9, 1, 1.1, 1.25, 1.5, 1.75, 2, 2.5, 3, ManualView::maxZoom};
constexpr qreal sameZoom = 0.005;
constexpr int maxContentsWidth = 340;

QFont barFont() {
    return QFont(QStringLiteral("Verdana"), 10);
}

// A key with Ctrl held, from the main keys and from the keypad.
QList<QKeySequence> ctrlKeys(std::initializer_list<Qt::Key> keys) {
    QList<QKeySequence> sequences;
    for (Qt::Key key : keys) {
        sequences << QKeySequence(Qt::ControlModifier | key);
        sequences << QKeySequence(Qt::ControlModifier | Qt::KeypadModifier | key);
    }
    return sequences;
}

QToolButton* barButton(QWidget* parent, const QString& name, const QString& text,
                       const QString& tip, const QList<QKeySequence>& keys) {
    auto* action = new QAction(text, parent);
    action->setToolTip(tip);
    action->setShortcuts(keys);
    parent->addAction(action);
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setDefaultAction(action);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setFont(barFont());
    button->setMinimumHeight(28);
    return button;
}

} // namespace

ManualView::ManualView(QWidget* parent) : QWidget(parent) {
    // The document goes before the views: it tells them when it closes, so they must still be
    // whole when this widget deletes the document.
    m_document = new QPdfDocument(this);
    m_outline = new QPdfBookmarkModel(this);
    m_outline->setDocument(m_document);

    m_zoomOut = barButton(this, QStringLiteral("bReduire"), QStringLiteral("− Réduire"),
                          QStringLiteral("Réduire la page (Ctrl −)"), ctrlKeys({Qt::Key_Minus}));
    // '+' is a shifted key on most keyboards: Ctrl = is the same key without Shift.
    m_zoomIn = barButton(this, QStringLiteral("bAgrandir"), QStringLiteral("+ Agrandir"),
                         QStringLiteral("Agrandir la page (Ctrl +)"),
                         ctrlKeys({Qt::Key_Plus, Qt::Key_Equal}));
    // On a French keyboard 0 is shifted too, its key giving 'à'.
    m_fitWidth =
        barButton(this, QStringLiteral("bLargeur"), QStringLiteral("Largeur de la page"),
                  QStringLiteral("Ajuster la page à la largeur de la fenêtre (Ctrl 0)"),
                  ctrlKeys({Qt::Key_0}) << QKeySequence(Qt::ControlModifier | Qt::Key_Agrave));
    m_fitWidth->defaultAction()->setCheckable(true);
    m_zoomLabel = new QLabel(this);
    m_zoomLabel->setObjectName(QStringLiteral("zoom"));
    m_zoomLabel->setFont(barFont());
    m_zoomLabel->setToolTip(QStringLiteral("Taille de la page par rapport à sa taille imprimée"));
    m_zoomLabel->setMinimumWidth(
        m_zoomLabel->fontMetrics().horizontalAdvance(QStringLiteral("Zoom : 400 %  ")));
    connect(m_zoomOut->defaultAction(), &QAction::triggered, this, &ManualView::zoomOut);
    connect(m_zoomIn->defaultAction(), &QAction::triggered, this, &ManualView::zoomIn);
    connect(m_fitWidth->defaultAction(), &QAction::triggered, this, &ManualView::fitToWidth);

    auto* bar = new QHBoxLayout;
    bar->addWidget(m_zoomOut);
    bar->addWidget(m_zoomIn);
    bar->addWidget(m_fitWidth);
    bar->addSpacing(12);
    bar->addWidget(m_zoomLabel);
    bar->addStretch();

    m_contentsPanel = new QWidget;
    auto* contentsTitle = new QLabel(QStringLiteral("Sommaire"), m_contentsPanel);
    contentsTitle->setFont(QFont(QStringLiteral("Verdana"), 11, QFont::Bold));
    m_contents = new QTreeView(m_contentsPanel);
    m_contents->setObjectName(QStringLiteral("sommaire"));
    m_contents->setModel(m_outline);
    m_contents->setHeaderHidden(true);
    m_contents->setFont(barFont());
    // Every title is shown, none folded away.
    m_contents->setRootIsDecorated(false);
    m_contents->setItemsExpandable(false);
    m_contents->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_contents->setToolTip(QStringLiteral("Cliquer sur un titre pour aller à sa page"));
    auto* contentsLayout = new QVBoxLayout(m_contentsPanel);
    contentsLayout->setContentsMargins(0, 0, 0, 0);
    contentsLayout->addWidget(contentsTitle);
    contentsLayout->addWidget(m_contents);
    // A click, or Enter on the title chosen with the arrows.
    connect(m_contents, &QTreeView::clicked, this, &ManualView::showPlace);
    connect(m_contents, &QTreeView::activated, this, &ManualView::showPlace);

    m_view = new QPdfView;
    m_view->setDocument(m_document);
    m_view->setPageMode(QPdfView::PageMode::MultiPage);
    m_view->setZoomMode(QPdfView::ZoomMode::FitToWidth);
    connect(m_view, &QPdfView::zoomModeChanged, this, &ManualView::refresh);
    connect(m_view, &QPdfView::zoomFactorChanged, this, &ManualView::refresh);
    // In fit-to-width the size shown follows the window's.
    m_view->viewport()->installEventFilter(this);

    m_splitter = new QSplitter(Qt::Horizontal);
    m_splitter->setChildrenCollapsible(false);
    m_splitter->addWidget(m_contentsPanel);
    m_splitter->addWidget(m_view);
    m_splitter->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(bar);
    layout->addWidget(m_splitter, 1);
    refresh();
}

bool ManualView::load(const QString& path) {
    const bool loaded = m_document->load(path) == QPdfDocument::Error::None;
    m_view->setZoomMode(QPdfView::ZoomMode::FitToWidth);
    m_contents->expandAll();
    // The contents as wide as their longest title, short of taking the page's room.
    const QFontMetrics metrics(m_contents->font());
    int widest = 0;
    for (QModelIndex title = m_outline->index(0, 0); title.isValid();
         title = m_contents->indexBelow(title)) {
        int depth = 0;
        for (QModelIndex up = title.parent(); up.isValid(); up = up.parent())
            ++depth;
        widest = qMax(widest, metrics.horizontalAdvance(title.data().toString()) +
                                  depth * m_contents->indentation());
    }
    const int margins = 2 * m_contents->frameWidth() + 4 * metrics.averageCharWidth() +
                        m_contents->verticalScrollBar()->sizeHint().width();
    // On a small screen the page keeps three quarters of the width.
    const int room = qMin(maxContentsWidth, screen()->availableGeometry().width() / 4);
    m_splitter->setSizes({qMin(widest + margins, room), 1000});
    refresh();
    return loaded;
}

bool ManualView::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_view->viewport())
        return false;
    if (event->type() == QEvent::Resize)
        refresh();
    // Ctrl with the mouse wheel zooms, as in most readers.
    const auto* wheel = event->type() == QEvent::Wheel ? static_cast<QWheelEvent*>(event) : nullptr;
    if (wheel && wheel->modifiers() & Qt::ControlModifier && wheel->angleDelta().y() != 0) {
        if (m_document->status() == QPdfDocument::Status::Ready)
            wheel->angleDelta().y() > 0 ? zoomIn() : zoomOut();
        return true;
    }
    return false;
}

qreal ManualView::pageScale(int page) const {
    if (m_view->zoomMode() == QPdfView::ZoomMode::Custom)
        return m_view->zoomFactor();
    // As QPdfView lays a page out to the viewport's width, from its size at 100 % in whole pixels.
    const int width = (m_document->pagePointSize(page) * screenResolution()).toSize().width();
    if (width <= 0)
        return 1;
    const QMargins margins = m_view->documentMargins();
    return qreal(m_view->viewport()->width() - margins.left() - margins.right()) / width;
}

qreal ManualView::screenResolution() {
    return QGuiApplication::primaryScreen()->logicalDotsPerInch() / 72.0;
}

// QPdfView stacks the pages from the top margin, a spacing between them; it moves to a page only
// when its navigator's page changes, and to the page's top, so a title further down a page, or on
// the page already shown, would not be reached through it.
int ManualView::pageTop(int page) const {
    int top = m_view->documentMargins().top();
    for (int p = 0; p < page; ++p) {
        const QSizeF points = m_document->pagePointSize(p) * screenResolution();
        const QSize size = m_view->zoomMode() == QPdfView::ZoomMode::Custom
                               ? (points * m_view->zoomFactor()).toSize()
                               : points.toSize() * pageScale(p);
        top += size.height() + m_view->pageSpacing();
    }
    return top;
}

void ManualView::showPlace(const QModelIndex& title) {
    if (!title.isValid())
        return;
    const int page = title.data(int(QPdfBookmarkModel::Role::Page)).toInt();
    if (page < 0 || page >= m_document->pageCount())
        return;
    const QPointF location = title.data(int(QPdfBookmarkModel::Role::Location)).toPointF();
    const qreal y = location.y() * pageScale(page) * screenResolution();
    // A little of what comes before stays visible above the title.
    const int above = m_view->fontMetrics().height();
    m_view->verticalScrollBar()->setValue(pageTop(page) + qMax(0, qRound(y) - above));
}

void ManualView::zoomIn() {
    const qreal now = scale();
    const auto next = std::find_if(zoomSteps.begin(), zoomSteps.end(),
                                   [now](qreal step) { return step > now + sameZoom; });
    zoomTo(next == zoomSteps.end() ? maxZoom : *next);
}

void ManualView::zoomOut() {
    const qreal now = scale();
    const auto next = std::find_if(zoomSteps.rbegin(), zoomSteps.rend(),
                                   [now](qreal step) { return step < now - sameZoom; });
    zoomTo(next == zoomSteps.rend() ? minZoom : *next);
}

// The place read stays in view as the pages grow or shrink.
void ManualView::zoomTo(qreal factor) {
    QScrollBar* bar = m_view->verticalScrollBar();
    const qreal at = qreal(bar->value()) / qMax(1, bar->maximum() + bar->pageStep());
    m_view->setZoomFactor(factor);
    m_view->setZoomMode(QPdfView::ZoomMode::Custom);
    bar->setValue(qRound(at * (bar->maximum() + bar->pageStep())));
}

void ManualView::fitToWidth() {
    QScrollBar* bar = m_view->verticalScrollBar();
    const qreal at = qreal(bar->value()) / qMax(1, bar->maximum() + bar->pageStep());
    m_view->setZoomMode(QPdfView::ZoomMode::FitToWidth);
    bar->setValue(qRound(at * (bar->maximum() + bar->pageStep())));
    refresh();
}

void ManualView::refresh() {
    const bool shown = m_document->status() == QPdfDocument::Status::Ready;
    const bool fitting = m_view->zoomMode() == QPdfView::ZoomMode::FitToWidth;
    const qreal now = scale();
    m_zoomOut->defaultAction()->setEnabled(shown && now > minZoom + sameZoom);
    m_zoomIn->defaultAction()->setEnabled(shown && now < maxZoom - sameZoom);
    m_fitWidth->defaultAction()->setEnabled(shown);
    m_fitWidth->defaultAction()->setChecked(fitting);
    m_zoomLabel->setText(shown ? QStringLiteral("Zoom : %1\u00a0%").arg(qRound(now * 100))
                               : QString());
    m_contentsPanel->setVisible(m_outline->rowCount() > 0);
}

} // namespace kel
