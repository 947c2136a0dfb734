#pragma once

#include <QRandomGenerator>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/wait.h>
#include <unistd.h>

namespace tarv::test {

// Runs work in a forked child and kills it (SIGKILL, as a crash would) at a random moment between
// fromUs and toUs microseconds after it started, or lets it end sooner.
inline void runAndKill(const std::function<void()>& work, int fromUs, int toUs)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        work();
        _exit(0);
    }
    QThread::usleep(QRandomGenerator::global()->bounded(fromUs, toUs));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

} // namespace tarv::test
