#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <functional>

// Qt's real event loop, for the tests of the core's adapter to it.
namespace isp::test {

// The application object, made once for the whole test program.
inline void ensureCoreApplication()
{
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv); // lives as long as the program
}

// Runs the event loop for the given time.
inline void runFor(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until the condition holds or the limit passes.
inline bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done() && elapsed.elapsed() < limit.count())
        runFor(std::chrono::milliseconds(5));
    return done();
}

} // namespace isp::test
