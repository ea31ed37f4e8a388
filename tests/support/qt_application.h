// The one QApplication of a GUI test process.
#pragma once

#include "tests/support/test_environment.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QThreadPool>

#include <functional>

namespace clipmora::testing {

// Creates the process's application object on first use; it lives until the
// process ends, as Qt expects.
inline void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "clipmora_test";
    static char* argv[] = {name, nullptr};
    if (QApplication::instance())
        return;
    new QApplication(argc, argv);
    // The shared pool's threads (picture scaling, file dialogs) are joined
    // before the program ends.
    AtTestProgramEnd([] { QThreadPool::globalInstance()->waitForDone(); });
}

// How long a test waits for an event before it gives up: long enough that
// only a fault, never a loaded machine, runs into it.
inline constexpr int kEventWaitMs = 60000;

// Runs the event loop until `done` holds; false when `milliseconds` pass first.
inline bool WaitUntil(const std::function<bool()>& done, int milliseconds = kEventWaitMs)
{
    QDeadlineTimer deadline(milliseconds);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

}  // namespace clipmora::testing
