#include "replacedfile.h"

#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    // A rename would put a plain file in place of a device node: a character device (a null device, a
    // terminal) is written in place instead, anything else that is not a file is refused.
    struct stat st;
    if (::stat(QFile::encodeName(m_target).constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        if (!S_ISCHR(st.st_mode)) {
            m_error = QStringLiteral("not a regular file");
            return false;
        }
        // Never as the controlling terminal, should the device be a terminal.
        const int fd = ::open(QFile::encodeName(m_target).constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0 || !m_device.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                                     QFileDevice::AutoCloseHandle)) {
            m_error = QString::fromLocal8Bit(std::strerror(errno));
            if (fd >= 0) ::close(fd);
            return false;
        }
        return true;
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
    // Held back until the commit, so a failed build writes nothing to the device either.
    if (m_device.isOpen()) {
        m_pending += bytes;
        return true;
    }
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
    if (m_device.isOpen()) {
        qint64 done = 0;
        while (done < m_pending.size()) {
            const qint64 n = m_device.write(m_pending.constData() + done, m_pending.size() - done);
            if (n <= 0) {
                m_error = m_device.errorString();
                return false;
            }
            done += n;
        }
        m_device.close();
        return true;
    }
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
