#pragma once

#include <QProxyStyle>

// The desktop's style, with the bars' "more" arrows read the first time they
// are drawn. A menu bar asks for its "more menus" arrow as it is made, and reading
// that one picture starts Qt's image-format search, which loads every image
// plugin there is; the arrow shows only when the menus do not fit.
class DeferredStyleIcons : public QProxyStyle
{
    Q_OBJECT

public:
    explicit DeferredStyleIcons(const QString& styleName);

    QIcon standardIcon(StandardPixmap icon, const QStyleOption* option = nullptr,
                       const QWidget* widget = nullptr) const override;
};
