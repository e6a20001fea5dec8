#pragma once

class QKeySequence;
class QPushButton;
class QString;
class QWidget;

namespace kel {

class MyVideoPlayer;

// A key of `window` that does what a click on `button` does, when the button can be clicked; the
// button's tooltip names the key.
void bindKey(QWidget* window, const QKeySequence& key, QPushButton* button, const QString& name);
// The student player's transport keys, and N / P for the next and previous comment's mark.
void bindTransportKeys(QWidget* window, MyVideoPlayer* player);
// Jumps to the next (previous) comment's mark, paused.
void seekToMark(MyVideoPlayer* player, bool next);

} // namespace kel
