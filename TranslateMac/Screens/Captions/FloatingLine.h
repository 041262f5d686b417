#pragma once

#include "TranslateMac/Screens/Captions/CaptionRowView.h"

class QLabel;

namespace TranslateMac {

// How the floating window's lines are drawn right now; owned by the floating view.
struct FloatingLineStyle {
    double size = 24;
    bool showSource = true;
    bool owningSession = false;
    bool rightToLeft = false;
};

// One line of the floating window: the translation large, the source below it smaller.
class FloatingLine : public CaptionRowView {
    Q_OBJECT

public:
    explicit FloatingLine(const FloatingLineStyle &style, QWidget *parent = nullptr);
    void showCaption(const TranslateCore::Caption &caption, bool latest) override;

    QString targetText() const;
    QString sourceText() const;
    bool sourceShown() const;

private:
    // A revised translation eases in instead of jumping.
    void easeInChange();

    const FloatingLineStyle &m_style;
    QLabel *m_target = nullptr;
    QLabel *m_source = nullptr;
    QString m_plainTarget;
    QString m_sourcePlain;
};

} // namespace TranslateMac
