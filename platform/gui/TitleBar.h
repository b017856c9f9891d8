#pragma once

#include <QObject>
#include <QRect>

class QWidget;
class QPainter;

namespace varnel {

// Whether a window has to draw its own title bar to look as it should: on a
// Wayland display whose compositor draws none (it offers no server-side
// decorations, as GNOME's and Weston do not), the toolkit would draw one that
// offers to maximise and resize whatever the window asks. Elsewhere the
// desktop draws title bars that follow the window's hints. Needs the GUI
// application; QT_WAYLAND_DISABLE_WINDOWDECORATION still means no title bar.
bool NeedsOwnTitleBar();

// The title bar of a fixed-size window, drawn by the window itself in a band
// along its top: the icon and title, then minimise and close; no maximise and
// no resize edges. Dragging the band moves the window; the buttons act on
// release over them, as buttons do. The window loses the toolkit's frame, its
// contents move down below the band and its fixed height grows by the band.
// To a screen reader the window keeps its own area, below the band, as it
// would under any title bar. Install it before the window is first shown.
class OwnTitleBar final : public QObject {
    Q_OBJECT
public:
    explicit OwnTitleBar(QWidget* window);
    ~OwnTitleBar() override;

    int height() const { return height_; }
    QRect minimiseButton() const;
    QRect closeButton() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum Part { None, Caption, Minimise, Close };
    Part partAt(const QPoint& pos) const;
    void paint(QPainter& painter) const;
    void setHovered(Part part);
    void updateBand();

    QWidget* window_;
    int height_;
    Part pressed_ = None;
    Part hovered_ = None;
};

} // namespace varnel
