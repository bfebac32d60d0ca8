#include "hashmask.h"

#include <QLineEdit>
#include <QProxyStyle>

namespace {

class HashPasswordStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '#';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

void showTypedCharactersAsHash(QLineEdit* field)
{
    auto* style = new HashPasswordStyle();
    style->setParent(field);
    field->setStyle(style);
    field->setEchoMode(QLineEdit::Password);
}
