#include "TranslateMac/Screens/Captions/CaptionText.h"

namespace TranslateMac::CaptionText {

namespace {
Block block(const QString &text, bool final, bool latest, const QString &placeholder)
{
    if (text.isEmpty())
        return { placeholder, true, false };
    return { text, false, latest && !final };
}
} // namespace

QString plain(const Block &block)
{
    return block.text + (block.cursor ? cursor : QString());
}

QString html(const Block &block, const QColor &cursorColour, const QColor &placeholderColour,
    const QColor &changingColour)
{
    QString text = block.text.toHtmlEscaped();
    if (!block.placeholder && changingColour.isValid() && block.settled >= 0
        && block.settled < block.text.size())
        text = block.text.left(block.settled).toHtmlEscaped()
            + QStringLiteral("<span style=\"color:%1\">%2</span>")
                  .arg(changingColour.name(), block.text.mid(block.settled).toHtmlEscaped());
    if (block.placeholder && placeholderColour.isValid())
        text = QStringLiteral("<span style=\"color:%1\">%2</span>")
                   .arg(placeholderColour.name(), text);
    if (block.cursor)
        text += QStringLiteral("<span style=\"color:%1\">%2</span>")
                    .arg(cursorColour.name(), cursor);
    return text;
}

Block source(const TranslateCore::Caption &caption, bool latest)
{
    return block(caption.source, caption.sourceFinal, latest, QStringLiteral("正在识别"));
}

Block target(const TranslateCore::Caption &caption, bool latest)
{
    return block(caption.target, caption.targetFinal, latest, QStringLiteral("正在翻译"));
}

Block floatingTarget(const TranslateCore::Caption &caption, bool latest, bool owningSession)
{
    return block(
        caption.target, caption.targetFinal, latest && owningSession, QStringLiteral("等待译文"));
}

} // namespace TranslateMac::CaptionText
