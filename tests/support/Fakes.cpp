#include "Fakes.h"

#include "mount/Tollvane.h"
#include "platform/BackgroundQueue.h"
#include "platform/MainQueue.h"

QStringList deepCopy(const QStringList& list)
{
    QStringList copy;
    copy.reserve(list.size());
    for (const QString& s : list)
        copy << QString(s.constData(), s.size());
    return copy;
}

bool FakeProcessRunner::run(const QString& program, const QStringList& arguments,
                            const ChunkHandler& standardError)
{
    const QString line = arguments.value(1);
    {
        std::lock_guard lock(mutex_);
        commandLines_ << line;
    }
    if (program != QLatin1String("/bin/bash") || arguments.value(0) != QLatin1String("-c"))
        return false;
    return script_ ? script_(line, standardError) : true;
}

QStringList FakeProcessRunner::commandLines() const
{
    std::lock_guard lock(mutex_);
    return deepCopy(commandLines_);
}

void RecordingOutput::writeLine(const QString& line)
{
    std::lock_guard lock(mutex_);
    lines_ << line;
}

QStringList RecordingOutput::lines() const
{
    std::lock_guard lock(mutex_);
    return deepCopy(lines_);
}

qsizetype RecordingOutput::count() const
{
    std::lock_guard lock(mutex_);
    return lines_.size();
}

void RecordingAlert::runModal(const QString& messageText, const QString& informativeText)
{
    if (onShow)
        onShow();
    std::lock_guard lock(mutex_);
    shown_ << messageText + QLatin1Char('|') + informativeText;
}

QStringList RecordingAlert::shown() const
{
    std::lock_guard lock(mutex_);
    return deepCopy(shown_);
}

ReloadCounter::ReloadCounter()
{
    token_ = NotificationCenter::defaultCenter().addObserver(Tollvane::reloadServers, [this] {
        std::lock_guard lock(mutex_);
        ++count_;
    });
}

ReloadCounter::~ReloadCounter()
{
    NotificationCenter::defaultCenter().removeObserver(token_);
}

int ReloadCounter::count() const
{
    std::lock_guard lock(mutex_);
    return count_;
}

Platform FakePlatform::platform(std::shared_ptr<DispatchQueue> background) const
{
    return {std::make_shared<MainQueue>(),
            background ? background : std::make_shared<BackgroundQueue>(), runner, alert, output};
}
