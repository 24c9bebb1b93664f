#ifndef RQ_TESTS_HOOKS_H
#define RQ_TESTS_HOOKS_H

#include "core/Pauza.h"

#include <QList>

// Records the pauses of the program instead of sleeping, for as long as it lives.
class PauseRecorder
{
public:
    PauseRecorder()
    {
        m_previous = rq::setPauseHook([this](int ms) {
            pauses.append(ms);
            if (onPause)
                onPause(ms);
        });
    }
    ~PauseRecorder() { rq::setPauseHook(m_previous); }
    PauseRecorder(const PauseRecorder &) = delete;
    PauseRecorder &operator=(const PauseRecorder &) = delete;

    QList<int> pauses;
    std::function<void(int)> onPause; // e.g. act between the steps of a sequence

private:
    rq::PauseHook m_previous;
};

#endif
