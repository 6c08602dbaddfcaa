#include "replacedfile.h"

#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

ReplacedFile::ReplacedFile(const QString &name) : m_target(name)
{
    QFileInfo link(name);
    for (int depth = 0; depth < 40 && link.isSymLink(); ++depth)
        link.setFile(link.symLinkTarget());
    if (!link.isSymLink()) m_target = link.filePath();
}

bool ReplacedFile::open()
{
    if (m_target.isEmpty() || QFileInfo(m_target).isDir()) {
        m_error = QStringLiteral("not a file name");
        return false;
    }
    m_file.setFileTemplate(m_target + QStringLiteral(".XXXXXX"));
    if (!m_file.open()) {
        m_error = m_file.errorString();
        return false;
    }
    // A new file gets what the user's mask allows, a replaced one keeps its permissions.
    const QFileInfo existing(m_target);
    if (existing.exists()) {
        m_file.setPermissions(existing.permissions());
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(m_file.handle(), 0666 & ~mask);
    }
    return true;
}

bool ReplacedFile::write(const QByteArray &bytes)
{
    // A short write is continued, so that on a full disk the failing write gives the reason.
    qint64 done = 0;
    while (done < bytes.size()) {
        const qint64 n = m_file.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) {
            m_error = m_file.errorString();
            return false;
        }
        done += n;
    }
    return true;
}

bool ReplacedFile::commit()
{
    if (!m_file.flush()) {
        m_error = m_file.errorString();
        return false;
    }
    if (std::rename(QFile::encodeName(m_file.fileName()).constData(),
                    QFile::encodeName(m_target).constData()) != 0) {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_file.setAutoRemove(false);
    return true;
}
