#include "deferredstyleicons.h"

#include <QIconEngine>
#include <QPointer>

#include <functional>

namespace {

// Stands in for an icon until something wants its pixels.
class DeferredIconEngine : public QIconEngine
{
public:
    explicit DeferredIconEngine(std::function<QIcon()> read) : m_read(std::move(read)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, mode, state);
    }
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        return icon().pixmap(size, scale, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    QIconEngine* clone() const override { return new DeferredIconEngine(*this); }

private:
    QIcon& icon()
    {
        if (m_read) {
            m_icon = m_read();
            m_read = nullptr;
        }
        return m_icon;
    }

    std::function<QIcon()> m_read;
    QIcon m_icon;
};

} // namespace

DeferredStyleIcons::DeferredStyleIcons(const QString& styleName) : QProxyStyle(styleName) {}

QIcon DeferredStyleIcons::standardIcon(StandardPixmap icon, const QStyleOption* option,
                                       const QWidget* widget) const
{
    // Only the arrows that menu and tool bars make up front, without a style
    // option; every other icon is read when asked for, as the style does. The
    // arrow does not depend on the bar, which may be gone when it is drawn.
    if (option || (icon != SP_ToolBarHorizontalExtensionButton && icon != SP_ToolBarVerticalExtensionButton))
        return QProxyStyle::standardIcon(icon, option, widget);
    QPointer<const QStyle> style(baseStyle());
    return QIcon(
        new DeferredIconEngine([style, icon] { return style ? style->standardIcon(icon) : QIcon(); }));
}
