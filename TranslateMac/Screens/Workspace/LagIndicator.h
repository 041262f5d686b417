#pragma once

#include "TranslateMac/Screens/Workspace/CaptionLag.h"

#include <QWidget>

class QLabel;

namespace TranslateMac {

class AppModel;

// A dot and a short text in the pane's header while listening: how far the newest caption is
// behind the sound (green, amber, red) and how many translations are waiting.
class LagIndicator : public QWidget {
    Q_OBJECT

public:
    explicit LagIndicator(AppModel &model, QWidget *parent = nullptr);

    double lagSeconds() const { return m_seconds; }
    CaptionLag::Level level() const { return CaptionLag::levelOf(m_seconds); }
    int waiting() const { return m_waiting; }
    QString text() const;

private:
    void soundChanged();
    void captionsChanged();
    void refresh();

    AppModel &m_model;
    CaptionLag m_lag;
    double m_seconds = 0;
    int m_waiting = 0;
    QLabel *m_dot = nullptr;
    QLabel *m_text = nullptr;
};

} // namespace TranslateMac
