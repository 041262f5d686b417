#include "FloatingSubtitlePanel.h"

#include "Compositing.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QScreen>
#include <QSettings>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace TranslateMac {

const QString FloatingSubtitlePanel::geometryKey = QStringLiteral("QuorvelFloatingSubtitles");
const QString FloatingSubtitlePanel::clickThroughKey
    = QStringLiteral("QuorvelFloatingSubtitlesClickThrough");
const QString FloatingSubtitlePanel::opacityKey
    = QStringLiteral("QuorvelFloatingSubtitlesBackgroundOpacity");

namespace {

constexpr Qt::WindowFlags panelFlags
    = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus;

QSettings settings()
{
    return QSettings(QStringLiteral("Quorvel"), QStringLiteral("QuorvelTranslate"));
}

// Calls the content's invokable `signature` with `value` when the content has one.
template <typename Value> void tellContent(QWidget *content, const char *signature, Value value)
{
    const QMetaObject *meta = content->metaObject();
    const int index = meta->indexOfMethod(signature);
    if (index >= 0)
        meta->method(index).invoke(content, Qt::DirectConnection, Q_ARG(Value, value));
}

} // namespace

QRect initialPanelGeometry(const QRect &available)
{
    const QSize size = FloatingSubtitlePanel::defaultSize;
    const int left = available.x() + available.width() / 2 - size.width() / 2;
    const int top
        = available.y() + available.height() - FloatingSubtitlePanel::bottomMargin - size.height();
    return QRect(QPoint(left, top), size);
}

FloatingSubtitlePanel::FloatingSubtitlePanel(QWidget *content, QWidget *parent)
    : QWidget(parent, panelFlags)
{
    setWindowTitle(QStringLiteral("Quorvel悬浮字幕"));
    setObjectName(QStringLiteral("floatingSubtitles"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    // With a compositor the content's background is translucent with the chosen opacity (the
    // captions stay opaque) and the thin resize border around it is not painted at all. Without
    // one, translucent pixels show black: the window is opaque, the border a plain frame.
    m_compositing = desktopComposites();
    setAttribute(Qt::WA_TranslucentBackground, m_compositing);
    if (!m_compositing) {
        QPalette frame = palette();
        frame.setColor(QPalette::Window, frameColour());
        setPalette(frame);
        setAutoFillBackground(true);
    }
    setMinimumSize(minimumPanelSize);
    resize(defaultSize);
    setMouseTracking(true);

    auto *layout = new QVBoxLayout(this);
    // The border belongs to the window itself, so it can always be grabbed for resizing.
    layout->setContentsMargins(resizeBorder, resizeBorder, resizeBorder, resizeBorder);
    layout->addWidget(content);

    QSettings stored = settings();
    m_clickThrough = stored.value(clickThroughKey, false).toBool();
    m_opacity = std::clamp(stored.value(opacityKey, defaultOpacity).toInt(), minimumOpacity, 100);
    setWindowFlag(Qt::WindowTransparentForInput, m_clickThrough);
    tellContent(content, "setCompositing(bool)", m_compositing);
    applyBackgroundOpacity();
}

void FloatingSubtitlePanel::present()
{
    if (!m_placed) {
        m_placed = true;
        const QByteArray saved = settings().value(geometryKey).toByteArray();
        if (saved.isEmpty() || !restoreGeometry(saved)) {
            if (const QScreen *screen = QGuiApplication::primaryScreen())
                setGeometry(initialPanelGeometry(screen->availableGeometry()));
        }
    }
    show();
    raise();
}

void FloatingSubtitlePanel::setClickThrough(bool enabled)
{
    if (enabled == m_clickThrough)
        return;
    m_clickThrough = enabled;
    settings().setValue(clickThroughKey, enabled);
    const Qt::WindowFlags flags = windowFlags().setFlag(Qt::WindowTransparentForInput, enabled);
    if (QWindow *window = windowHandle()) {
        // The window changes its input in place. QWidget::setWindowFlag would withdraw it and map
        // it again, and a window manager that handles the withdrawal after the new mapping
        // clears the state that mapping asked for: on a busy desktop the panel no longer stayed
        // above other windows.
        overrideWindowFlags(flags);
        window->setFlags(flags);
    } else {
        setWindowFlags(flags);
    }
    Q_EMIT clickThroughChanged(enabled);
}

void FloatingSubtitlePanel::setBackgroundOpacity(int percent)
{
    percent = std::clamp(percent, minimumOpacity, 100);
    if (percent == m_opacity)
        return;
    m_opacity = percent;
    settings().setValue(opacityKey, percent);
    applyBackgroundOpacity();
    Q_EMIT backgroundOpacityChanged(percent);
}

void FloatingSubtitlePanel::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    Q_EMIT closed();
}

Qt::Edges FloatingSubtitlePanel::edgesAt(const QPoint &position) const
{
    Qt::Edges edges;
    if (position.x() < resizeBorder)
        edges |= Qt::LeftEdge;
    if (position.x() >= width() - resizeBorder)
        edges |= Qt::RightEdge;
    if (position.y() < resizeBorder)
        edges |= Qt::TopEdge;
    if (position.y() >= height() - resizeBorder)
        edges |= Qt::BottomEdge;
    return edges;
}

void FloatingSubtitlePanel::mousePressEvent(QMouseEvent *event)
{
    QWindow *window = windowHandle();
    if (event->button() != Qt::LeftButton || !window)
        return QWidget::mousePressEvent(event);
    const Qt::Edges edges = edgesAt(event->position().toPoint());
    if (edges ? window->startSystemResize(edges) : window->startSystemMove())
        event->accept();
}

void FloatingSubtitlePanel::mouseMoveEvent(QMouseEvent *event)
{
    const Qt::Edges edges = edgesAt(event->position().toPoint());
    if ((edges & Qt::LeftEdge && edges & Qt::TopEdge)
        || (edges & Qt::RightEdge && edges & Qt::BottomEdge))
        setCursor(Qt::SizeFDiagCursor);
    else if ((edges & Qt::RightEdge && edges & Qt::TopEdge)
        || (edges & Qt::LeftEdge && edges & Qt::BottomEdge))
        setCursor(Qt::SizeBDiagCursor);
    else if (edges & (Qt::LeftEdge | Qt::RightEdge))
        setCursor(Qt::SizeHorCursor);
    else if (edges & (Qt::TopEdge | Qt::BottomEdge))
        setCursor(Qt::SizeVerCursor);
    else
        unsetCursor();
    QWidget::mouseMoveEvent(event);
}

void FloatingSubtitlePanel::applyBackgroundOpacity()
{
    // The content paints its own background in its style's colour; a content without that
    // notion ignores the call.
    if (QWidget *content = layout()->itemAt(0)->widget())
        tellContent(content, "setBackgroundOpacity(int)", m_opacity);
}

void FloatingSubtitlePanel::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    rememberGeometry();
}

void FloatingSubtitlePanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    rememberGeometry();
}

void FloatingSubtitlePanel::rememberGeometry()
{
    // Only a place the panel was shown at (or moved to by the user) is remembered.
    if (m_placed && isVisible())
        settings().setValue(geometryKey, saveGeometry());
}

} // namespace TranslateMac
