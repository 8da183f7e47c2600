#pragma once

#include <QApplication>

#include <cstdio>
#include <cstdlib>

// What the fuzz targets share: a broken property ends the run as a crash, which libFuzzer
// keeps as a finding and the replay test reports as a failure.
namespace fuzzcheck {

inline void require(bool holds, const char *property)
{
    if (holds)
        return;
    std::fprintf(stderr, "property broken: %s\n", property);
    std::abort();
}

// Widgets need an application; the fuzzer has no main of its own, so it is made on first use
// and lives until the process exits.
inline QApplication &application()
{
    static int argc = 1;
    static char name[] = "fuzz";
    static char *argv[] = {name, nullptr};
    static QApplication *app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return *app;
}

} // namespace fuzzcheck
