#pragma once

#include <QString>
#include <QtGlobal>

namespace TranslateMac {

// Whether a caption list keeps its newest caption in view, and how many changes of the newest
// caption arrived while the user was reading older ones.
class FollowState {
public:
    bool following() const { return m_following; }
    int unseen() const { return m_unseen; }
    qint64 lastSequence() const { return m_lastSequence; }

    // The list opens ending with `lastSequence`: what it opens with is not news.
    void open(qint64 lastSequence) { m_lastSequence = lastSequence; }
    // The list now ends with `lastSequence` (0 when empty). Counts one unseen change when not
    // following and the last caption is a different one; yields whether to scroll to the latest.
    bool captionsChanged(qint64 lastSequence);
    // Yields whether to scroll to the latest (on becoming true, which also clears the count).
    bool setFollowing(bool following);

    // A scroll towards older captions (positive vertical delta beyond half a point).
    static bool stopsFollowingOnScroll(double verticalDelta) { return verticalDelta > 0.5; }
    // The floating return button's text.
    QString returnLabel() const;
    static QString returnHelp();

private:
    bool m_following = true;
    int m_unseen = 0;
    qint64 m_lastSequence = 0;
};

} // namespace TranslateMac
