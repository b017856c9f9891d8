#include "platform/gui/TitleBar.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QEvent>
#include <QGuiApplication>
#include <QHash>
#include <QMouseEvent>
#include <QPainter>
#include <QWidget>
#include <QWindow>

#include <cstring>
#include <wayland-client.h>

namespace varnel {

namespace {

// Asks the compositor, on a connection of our own, whether it offers to draw
// title bars itself. The toolkit asks for that whenever it is offered.
bool CompositorDrawsTitleBars() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display)
        return true; // cannot tell: the toolkit's own choice stands
    bool offered = false;
    static const wl_registry_listener listener = {
        [](void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
            if (std::strcmp(interface, "zxdg_decoration_manager_v1") == 0)
                *static_cast<bool*>(data) = true;
        },
        [](void*, wl_registry*, uint32_t) {},
    };
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, &offered);
    const bool answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return offered || !answered;
}

// The windows with a band of their own, and its height.
QHash<const QObject*, int>& Bands() {
    static QHash<const QObject*, int> bands;
    return bands;
}

// A window as a screen reader sees it: the area below its band.
class BelowBand final : public QAccessibleWidget {
public:
    using QAccessibleWidget::QAccessibleWidget;
    QRect rect() const override {
        QRect area = QAccessibleWidget::rect();
        if (!area.isEmpty())
            area.setTop(area.top() + Bands().value(object(), 0));
        return area;
    }
};

QAccessibleInterface* BelowBandFactory(const QString&, QObject* object) {
    if (!object || !Bands().contains(object))
        return nullptr;
    return new BelowBand(static_cast<QWidget*>(object));
}

} // namespace

bool NeedsOwnTitleBar() {
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return false;
    if (qEnvironmentVariableIsSet("QT_WAYLAND_DISABLE_WINDOWDECORATION"))
        return false;
    return !CompositorDrawsTitleBars();
}

OwnTitleBar::OwnTitleBar(QWidget* window)
    : QObject(window), window_(window), height_(qMax(24, window->fontMetrics().height() + 10)) {
    // The toolkit keeps its frame for as long as any of its buttons is asked for.
    const Qt::WindowFlags frame = Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                  Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                                  Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint;
    window->setWindowFlags((window->windowFlags() & ~frame) | Qt::FramelessWindowHint);
    for (QObject* child : window->children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget && !widget->isWindow())
            widget->move(widget->x(), widget->y() + height_);
    }
    window->setFixedSize(window->width(), window->height() + height_);
    window->setMouseTracking(true);
    window->installEventFilter(this);

    static const bool installed = (QAccessible::installFactory(BelowBandFactory), true);
    (void)installed;
    Bands().insert(window, height_);
    // An interface made for the window before now would still show the band.
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(window);
    if (made && !dynamic_cast<BelowBand*>(made))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

OwnTitleBar::~OwnTitleBar() {
    Bands().remove(window_);
}

QRect OwnTitleBar::closeButton() const {
    const int side = height_ - 6;
    return QRect(window_->width() - 4 - side, 3, side, side);
}

QRect OwnTitleBar::minimiseButton() const {
    return closeButton().translated(-(height_ - 6) - 2, 0);
}

OwnTitleBar::Part OwnTitleBar::partAt(const QPoint& pos) const {
    if (pos.y() < 0 || pos.y() >= height_ || pos.x() < 0 || pos.x() >= window_->width())
        return None;
    if (closeButton().contains(pos))
        return Close;
    if (minimiseButton().contains(pos))
        return Minimise;
    return Caption;
}

void OwnTitleBar::updateBand() {
    window_->update(0, 0, window_->width(), height_);
}

void OwnTitleBar::setHovered(Part part) {
    if (hovered_ == part)
        return;
    hovered_ = part;
    updateBand();
}

bool OwnTitleBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched != window_)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Paint: {
        QPainter painter(window_);
        paint(painter);
        return false; // the window paints its own part as usual
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const Part part = partAt(mouse->position().toPoint());
        if (part == None)
            return false;
        if (mouse->button() != Qt::LeftButton)
            return true;
        if (part == Caption) {
            // The compositor moves the window; a double click does nothing,
            // since the window has no other size to take.
            if (event->type() == QEvent::MouseButtonPress && window_->windowHandle())
                window_->windowHandle()->startSystemMove();
        } else {
            pressed_ = part;
            updateBand();
        }
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const Part pressed = pressed_;
        if (pressed == None || mouse->button() != Qt::LeftButton)
            return partAt(mouse->position().toPoint()) != None;
        pressed_ = None;
        updateBand();
        if (partAt(mouse->position().toPoint()) == pressed) {
            if (pressed == Minimise)
                window_->setWindowState(window_->windowState() | Qt::WindowMinimized);
            else
                window_->close();
        }
        return true;
    }
    case QEvent::MouseMove:
        setHovered(partAt(static_cast<QMouseEvent*>(event)->position().toPoint()));
        return false;
    case QEvent::Leave:
        setHovered(None);
        return false;
    case QEvent::ActivationChange:
    case QEvent::WindowTitleChange:
    case QEvent::WindowIconChange:
        updateBand();
        return false;
    default:
        return false;
    }
}

void OwnTitleBar::paint(QPainter& painter) const {
    const QPalette& palette = window_->palette();
    const bool active = window_->isActiveWindow();
    const int width = window_->width();
    const QColor text = active ? palette.color(QPalette::WindowText)
                               : palette.color(QPalette::Disabled, QPalette::WindowText);

    painter.fillRect(0, 0, width, height_,
                     palette.color(QPalette::Window).darker(active ? 112 : 104));
    painter.setPen(palette.color(QPalette::Mid));
    painter.drawRect(0, 0, width - 1, window_->height() - 1); // the window's edge
    painter.drawLine(1, height_ - 1, width - 2, height_ - 1);

    const int iconSide = 16;
    const QRect icon(6, (height_ - iconSide) / 2, iconSide, iconSide);
    window_->windowIcon().paint(&painter, icon, Qt::AlignCenter,
                                active ? QIcon::Normal : QIcon::Disabled);
    const QRect title(icon.right() + 6, 0, minimiseButton().left() - icon.right() - 10, height_);
    painter.setPen(text);
    painter.drawText(
        title, Qt::AlignLeft | Qt::AlignVCenter,
        window_->fontMetrics().elidedText(window_->windowTitle(), Qt::ElideRight, title.width()));

    painter.setRenderHint(QPainter::Antialiasing);
    for (const Part part : {Minimise, Close}) {
        const QRect button = part == Close ? closeButton() : minimiseButton();
        if (pressed_ == part || hovered_ == part) {
            QColor shade = palette.color(QPalette::WindowText);
            shade.setAlpha(pressed_ == part ? 70 : 35);
            painter.setPen(Qt::NoPen);
            painter.setBrush(shade);
            painter.drawRoundedRect(button, 3, 3);
            painter.setBrush(Qt::NoBrush);
        }
        painter.setPen(QPen(text, 1.5));
        const QRectF glyph = QRectF(button).adjusted(6, 6, -6, -6);
        if (part == Close) {
            painter.drawLine(glyph.topLeft(), glyph.bottomRight());
            painter.drawLine(glyph.topRight(), glyph.bottomLeft());
        } else {
            painter.drawLine(QPointF(glyph.left(), glyph.bottom()),
                             QPointF(glyph.right(), glyph.bottom()));
        }
    }
}

} // namespace varnel
