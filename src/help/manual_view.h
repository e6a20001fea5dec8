#pragma once

#include <QWidget>

class QLabel;
class QModelIndex;
class QPdfBookmarkModel;
class QPdfDocument;
class QPdfView;
class QSplitter;
class QToolButton;
class QTreeView;

namespace kel {

// The French manual as one reads it: its pages fitted to the width of the window at first, a zoom
// bar whose every action is a visible button as well as a key, and the manual's own contents (its
// outline) beside the pages, each title a way to its place.
class ManualView : public QWidget {
    Q_OBJECT
public:
    explicit ManualView(QWidget* parent = nullptr);

    // False when the file is missing or is no readable PDF; the view then stays empty.
    bool load(const QString& path);

    QPdfView* pages() const { return m_view; }
    QTreeView* contents() const { return m_contents; }
    // The size at which a page is shown, 1 for its printed size, whatever the zoom mode.
    qreal scale() const { return pageScale(0); }

    static constexpr qreal minZoom = 0.5;
    static constexpr qreal maxZoom = 4;

public slots:
    void zoomIn();
    void zoomOut();
    void fitToWidth();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static qreal screenResolution();
    void zoomTo(qreal factor);
    void showPlace(const QModelIndex& title);
    void refresh();
    int pageTop(int page) const;
    qreal pageScale(int page) const;

    QPdfDocument* m_document;
    QPdfBookmarkModel* m_outline;
    QPdfView* m_view;
    QSplitter* m_splitter;
    QWidget* m_contentsPanel;
    QTreeView* m_contents;
    QToolButton* m_zoomOut;
    QToolButton* m_zoomIn;
    QToolButton* m_fitWidth;
    QLabel* m_zoomLabel;
};

} // namespace kel
