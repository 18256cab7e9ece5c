#pragma once

#include "common/TestSupport.h"
#include "platform/processes/ChildProcess.h"
#include "platform/desktop/Pasteboard.h"

#include <QImage>
#include <QRegularExpression>
#include <QString>

#include <csignal>
#include <memory>
#include <mutex>

namespace corvane::test {

// A pasteboard that keeps the last image and counts the clears.
class FakePasteboard : public Pasteboard {
public:
    void clearContents() override
    {
        std::lock_guard lock(mutex);
        ++clears;
        image = QImage();
    }
    void writeImage(const QImage &written) override
    {
        std::lock_guard lock(mutex);
        image = written;
    }

    std::mutex mutex;
    int clears = 0;
    QImage image;
};

// Whether the process has started and catches the interrupt signal: the
// recording simctl does, so that stopping it lets it finish its file.
inline bool catchesInterrupt(const std::shared_ptr<ChildProcess> &task)
{
    if (!task || task->processIdentifier() <= 0)
        return false;
    const QString status = QString::fromUtf8(
        readFile(QStringLiteral("/proc/%1/status").arg(task->processIdentifier())));
    static const QRegularExpression caught("^SigCgt:\\s*([0-9a-f]+)$",
                                           QRegularExpression::MultilineOption);
    const auto match = caught.match(status);
    return match.hasMatch() && (match.captured(1).toULongLong(nullptr, 16) & (1u << (SIGINT - 1)));
}

} // namespace corvane::test
