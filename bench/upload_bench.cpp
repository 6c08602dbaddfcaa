// Upload throughput: a full 512000-byte image loaded into the simulated module over a pseudo-terminal,
// with four chunks in flight and with one, side by side with the raw time to push the same bytes
// through a pseudo-terminal pair in the upload's packet sizes. The simulated module runs in its own
// thread, as the module runs on its own processor.
#include "flashjob.h"
#include "simdevice.h"
#include "simline.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace
{

double cpuSeconds(int who)
{
    rusage u;
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// One upload: its wall time, the CPU time of the host side (engine, link, decoding) and of the module.
struct Timing {
    double wall = -1;
    double hostCpu = 0;
    double moduleCpu = 0;
};

constexpr int imageSize = 512000;
constexpr int packetSize = 4 + 1 + 128; // header, array length, chunk

QByteArray makeImage()
{
    QByteArray image(imageSize, char(0xff));
    const int length = 400000;
    for (int i = 0; i < length; ++i)
        image[i] = char(i * 7 + (i >> 9));
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(image.constData()), length);
    const quint32 record[3] = {0, quint32(length), quint32(crc)};
    for (int w = 0; w < 3; ++w)
        for (int b = 0; b < 4; ++b)
            image[511984 + 4 * w + b] = char(record[w] >> (8 * b));
    return image;
}

// Seconds to write 512000 bytes into a raw pty slave in writes of `chunk` bytes while a thread drains
// the master.
double rawSeconds(int chunk)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) || unlockpt(master)) return -1;
    const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    termios t;
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    std::vector<char> data(imageSize, 'x');

    QElapsedTimer timer;
    timer.start();
    std::thread reader([master] {
        char buf[65536];
        long got = 0;
        while (got < imageSize) {
            const ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;
            got += n;
        }
    });
    for (int off = 0; off < imageSize;) {
        const ssize_t n = write(slave, data.data() + off, size_t(std::min(chunk, imageSize - off)));
        if (n <= 0) break;
        off += int(n);
    }
    reader.join();
    const double s = timer.nsecsElapsed() / 1e9;
    close(slave);
    close(master);
    return s;
}

// The simulated module on a pty of its own, in its own thread.
class SimThread : public QThread
{
public:
    QString path;
    QByteArray flash;
    QSemaphore ready;
    double cpu = 0;

protected:
    void run() override
    {
        SimOptions options;
        options.startInUpdateState = true;
        options.bootDelayMs = 0;
        SimDevice device(options);
        SimLine line(&device, options);
        if (line.openPty()) path = line.path();
        ready.release();
        const double start = cpuSeconds(RUSAGE_THREAD);
        exec();
        cpu = cpuSeconds(RUSAGE_THREAD) - start;
        flash = device.flash();
    }
};

// From the start of the upload until the module has booted the new image; wall -1 on failure.
Timing uploadTiming(const QString &imagePath, const QByteArray &image, bool flowcontrol)
{
    Timing t;
    SimThread sim;
    sim.start();
    sim.ready.acquire();
    if (sim.path.isEmpty()) return t;

    FlashOptions options;
    options.image = imagePath;
    options.flowcontrol = flowcontrol;
    FlashJob job(sim.path, options);
    bool ok = false;
    QEventLoop loop;
    QObject::connect(&job, &FlashJob::done, &loop, [&](bool booted) {
        ok = booted;
        loop.quit();
    });
    QElapsedTimer timer;
    const double cpuStart = cpuSeconds(RUSAGE_SELF);
    timer.start();
    job.start();
    if (job.phase() != FlashJob::Phase::Failed) loop.exec();
    const double wall = timer.nsecsElapsed() / 1e9;
    sim.quit();
    sim.wait();
    if (!ok) std::fprintf(stderr, "upload failed: %s\n", job.reason().toLocal8Bit().constData());
    if (ok && sim.flash == image) {
        t.wall = wall;
        t.moduleCpu = sim.cpu;
        t.hostCpu = cpuSeconds(RUSAGE_SELF) - cpuStart - sim.cpu;
    }
    return t;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    wifi_register_metatypes();
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 5;

    QTemporaryDir dir;
    const QString imagePath = dir.filePath(QStringLiteral("wifi.dfu"));
    const QByteArray image = makeImage();
    QFile f(imagePath);
    if (!f.open(QIODevice::WriteOnly) || f.write(image) != image.size()) return 1;
    f.close();

    std::vector<double> raw133, rawBulk;
    std::vector<Timing> w4, w1;
    for (int i = 0; i < runs; ++i) {
        raw133.push_back(rawSeconds(packetSize));
        rawBulk.push_back(rawSeconds(65536));
        w4.push_back(uploadTiming(imagePath, image, true));
        w1.push_back(uploadTiming(imagePath, image, false));
    }

    const double raw = median(raw133);
    std::printf("median of %d runs, 512000 bytes over a pty\n", runs);
    std::printf("raw, %d-byte writes    %7.3f s  %8.1f KiB/s\n", packetSize, raw, imageSize / raw / 1024);
    std::printf("raw, 64 KiB writes     %7.3f s  %8.1f KiB/s\n", median(rawBulk),
                imageSize / median(rawBulk) / 1024);
    for (const auto &row : {std::make_pair(4, &w4), std::make_pair(1, &w1)}) {
        std::vector<double> wall, host, module;
        for (const Timing &t : *row.second) {
            if (t.wall < 0) return 1;
            wall.push_back(t.wall);
            host.push_back(t.hostCpu);
            module.push_back(t.moduleCpu);
        }
        const double w = median(wall);
        std::printf("upload, window %d       %7.3f s  %8.1f KiB/s  %5.1f%% of raw;  CPU: host %.3f s, "
                    "module %.3f s\n",
                    row.first, w, imageSize / w / 1024, 100 * raw / w, median(host), median(module));
    }
    return 0;
}
