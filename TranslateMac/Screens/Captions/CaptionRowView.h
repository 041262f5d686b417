#pragma once

#include "TranslateCore/Subtitles/Caption.h"

#include <QWidget>

#include <functional>

namespace TranslateMac {

// One row of a caption list; the list tells it its caption and whether it is the newest.
class CaptionRowView : public QWidget {
    Q_OBJECT

public:
    using QWidget::QWidget;
    virtual void showCaption(const TranslateCore::Caption &caption, bool latest) = 0;
};

using CaptionRowFactory = std::function<CaptionRowView *()>;

} // namespace TranslateMac
