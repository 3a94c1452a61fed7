#include "launcherlog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <mutex>

const char logFileName[] = "launcher.log";
const char previousLogFileName[] = "launcher.log.1";

void writeLogLine(const QByteArray &text)
{
    QByteArray line =
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ ")).toLatin1();
    line += text;
    line.replace('\n', ' ').replace('\r', ' ');
    line += '\n';

    // Worker threads log too.
    static std::mutex mutex;
    const std::lock_guard<std::mutex> lock(mutex);
    const QString path = QString::fromLatin1(logFileName);
    if (QFileInfo(path).size() + line.size() > maximumLogBytes) {
        QFile::remove(QString::fromLatin1(previousLogFileName));
        QFile::rename(path, QString::fromLatin1(previousLogFileName));
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(line);
}
