#pragma once

#include "TranslateMac/Screens/Captions/CaptionRowView.h"

class QLabel;

namespace TranslateMac {

// How the workspace's caption rows are drawn right now; owned by the transcript pane.
struct TranscriptRowStyle {
    double size = 21;
    bool targetRightToLeft = false;
    // A past session's captions (the history): nothing more is coming, so an empty side shows a
    // dash instead of "正在识别" / "正在翻译".
    bool recorded = false;
};

// One caption of the workspace: the "原文" block above the "译文" block.
class TranscriptCaptionRow : public CaptionRowView {
    Q_OBJECT

public:
    explicit TranscriptCaptionRow(const TranscriptRowStyle &style, QWidget *parent = nullptr);
    void showCaption(const ShownCaption &caption, bool latest) override;

    QString sourceText() const { return m_sourcePlain; }
    QString targetText() const { return m_targetPlain; }
    double targetPointSize() const;
    bool targetIsRightToLeft() const;

private:
    const TranscriptRowStyle &m_style;
    QLabel *m_source = nullptr;
    QLabel *m_target = nullptr;
    QString m_sourcePlain;
    QString m_targetPlain;
};

} // namespace TranslateMac
