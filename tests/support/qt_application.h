// The one QApplication of a GUI test process.
#pragma once

#include <QApplication>

namespace clipmora::testing {

// Creates the process's application object on first use; it lives until the
// process ends, as Qt expects.
inline void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "clipmora_test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance())
        new QApplication(argc, argv);
}

}  // namespace clipmora::testing
