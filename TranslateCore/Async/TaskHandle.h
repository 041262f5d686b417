#pragma once

#include "Cancellation.h"
#include "OneShot.h"

#include <QCoroTask>

#include <exception>
#include <functional>
#include <memory>

namespace TranslateCore {

// A running flow that its owner keeps in a field: it can be cancelled and awaited to its end.
// QCoro tasks cannot be cancelled and swallow the exceptions of tasks nobody awaits; the handle
// gives the flow a token and keeps whatever escaped it. Replacing or destroying a handle cancels
// the flow it held (the flow still runs on to its next suspension point to unwind).
class TaskHandle {
public:
    using Body = std::function<QCoro::Task<>(CancellationToken)>;

    TaskHandle() = default;
    TaskHandle(TaskHandle &&) noexcept = default;
    TaskHandle &operator=(TaskHandle &&other) noexcept;
    TaskHandle(const TaskHandle &) = delete;
    TaskHandle &operator=(const TaskHandle &) = delete;
    ~TaskHandle();

    // Starts `body` at once: it runs until its first suspension before start() returns. The flow
    // is cancelled with `parent` too.
    static TaskHandle start(Body body, const CancellationToken &parent = {});

    void cancel();
    bool isRunning() const;
    // Completes when the flow has ended, however it ended; never throws.
    QCoro::Task<> finished() const;
    // What escaped the flow other than its cancellation, if anything.
    std::exception_ptr failure() const;

private:
    struct State {
        explicit State(const CancellationToken &parent) : source(parent) { }
        CancellationSource source;
        OneShot<> done;
        std::exception_ptr failure;
    };
    static QCoro::Task<> run(Body body, std::shared_ptr<State> state);

    std::shared_ptr<State> m_state;
};

} // namespace TranslateCore
