#pragma once

#include "TranslateMac/Screens/Captions/CaptionRowView.h"
#include "TranslateMac/Screens/Captions/FloatingSettings.h"

class QVBoxLayout;

namespace TranslateMac {

class CaptionTextView;

// How the floating window's lines are drawn right now; owned by the floating view.
struct FloatingLineStyle {
    FloatingSettings settings;
    FloatingPalette palette = FloatingPalette::of(FloatingStyle::light, 100, true);
    bool owningSession = false;
    bool rightToLeft = false;
};

// One line of the floating window: the translation and the source, each in its own size and
// line count, in the chosen order, or one of them alone.
class FloatingLine : public CaptionRowView {
    Q_OBJECT

public:
    explicit FloatingLine(const FloatingLineStyle &style, QWidget *parent = nullptr);
    // The height of a line showing every line the style allows, in any script.
    static int tallestHeight(const FloatingLineStyle &style);
    void showCaption(const ShownCaption &caption, bool latest) override;

    // The texts as shown (empty for a hidden language).
    QString targetText() const;
    QString sourceText() const;
    bool sourceShown() const;
    CaptionTextView &translationView() const { return *m_target; }
    CaptionTextView &sourceView() const { return *m_source; }

private:
    const FloatingLineStyle &m_style;
    QVBoxLayout *m_layout = nullptr;
    CaptionTextView *m_target = nullptr;
    CaptionTextView *m_source = nullptr;
};

} // namespace TranslateMac
