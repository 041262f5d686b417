#pragma once

#include <QWidget>

#include <array>

class QVariantAnimation;

namespace TranslateMac {

// Five capsule bars that rise with the playback level.
class LevelMeter : public QWidget {
    Q_OBJECT

public:
    explicit LevelMeter(QWidget *parent = nullptr);
    void setLevel(float level);
    float level() const { return m_level; }
    // The heights the bars are moving to.
    const std::array<double, 5> &targetHeights() const { return m_target; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    float m_level = 0;
    std::array<double, 5> m_shown {};
    std::array<double, 5> m_from {};
    std::array<double, 5> m_target {};
    QVariantAnimation *m_animation = nullptr;
};

} // namespace TranslateMac
