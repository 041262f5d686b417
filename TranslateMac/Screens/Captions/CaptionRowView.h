#pragma once

#include "TranslateCore/Subtitles/Caption.h"

#include <QWidget>

#include <functional>

namespace TranslateMac {

// A caption as a list shows it: its texts held steady while the service rewrites them, with
// how many characters of each are settled (negative: all of them).
struct ShownCaption : TranslateCore::Caption {
    qsizetype sourceSettled = -1;
    qsizetype targetSettled = -1;
    friend bool operator==(const ShownCaption &, const ShownCaption &) = default;
};

// One row of a caption list; the list tells it its caption and whether it is the newest.
class CaptionRowView : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;
    virtual void showCaption(const ShownCaption &caption, bool latest) = 0;
};

using CaptionRowFactory = std::function<CaptionRowView *()>;

} // namespace TranslateMac
