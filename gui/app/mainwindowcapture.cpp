// The main window's log search and captures: the session recorded into a pcapng file while it runs, and a
// capture played back into the log, the activity feed and the interface as if its packets arrived again.
#include "mainwindow.h"

#include "capturereader.h"
#include "logsearchbar.h"
#include "logview.h"
#include "uartdev.h"
#include "ui_mainwindow.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QTimer>

// The search line sits right below the log pane it searches.
void MainWindow::addLogSearch()
{
    auto *bar = new LogSearchBar(ui->textDebug);
    bar->setObjectName(QStringLiteral("logSearchBar"));
    ui->verticalLayout->insertWidget(ui->verticalLayout->indexOf(ui->textDebug) + 1, bar);
    connect(bar, &LogSearchBar::failed, this, &MainWindow::showLinkError);
}

void MainWindow::connectLatency()
{
    latencyClock.start();
    connect(&wifi, &cls_wifi::tx_data, this, &MainWindow::noteCommand);
    connect(&comm, &HVConnection::RxData, this, &MainWindow::noteReceived);
}

qint64 MainWindow::nowUs() const
{
    return replayUs >= 0 ? replayUs : latencyClock.nsecsElapsed() / 1000;
}

void MainWindow::noteCommand(const QByteArray &packet)
{
    if (packet.size() >= 4 && !(packet[0] & 0x80))
        commandSentUs.insert((uchar(packet[2]) << 8) | uchar(packet[3]), nowUs());
}

// A response takes its command's send time once: a second answer to one command has no latency.
void MainWindow::noteReceived(const QByteArray &packet)
{
    latencyUs = -1;
    if (packet.size() < 4 || (packet[0] & 0x80)) return;
    const auto sent = commandSentUs.find((uchar(packet[2]) << 8) | uchar(packet[3]));
    if (sent == commandSentUs.end()) return;
    latencyUs = nowUs() - sent.value();
    commandSentUs.erase(sent);
    // Nothing decoded later asks for it.
    QTimer::singleShot(0, this, [this] { latencyUs = -1; });
}

QString MainWindow::captureFileName() const
{
    return capture ? capture->fileName() : QString();
}

QString MainWindow::logPrefix()
{
    return replayMsecs >= 0 ? clock.prefix(replayMsecs) : clock.prefix();
}

QString MainWindow::defaultCaptureName() const
{
    return QDir::home().filePath(
        QStringLiteral("velmo-%1.pcapng")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"))));
}

bool MainWindow::startCapture(QString path)
{
    stopCapture();
    auto file = std::make_shared<CaptureFile>();
    if (!file->open(path)) {
        showLinkError(tr("Cannot capture: %1").arg(file->errorString()));
        return false;
    }
    // From the file's own thread, so queued: the red line, and the session goes on unrecorded.
    CaptureFile *which = file.get();
    connect(which, &CaptureFile::failed, this, [this, which](const QString &reason) {
        if (capture.get() != which) return;
        showLinkError(reason);
        comm.setCapture(nullptr);
        capture.reset();
        emit captureChanged();
    });
    capture = std::move(file);
    comm.setCapture(capture);
    debugPrint(tr("Capturing to %1").arg(path.toHtmlEscaped()));
    emit captureChanged();
    return true;
}

void MainWindow::stopCapture()
{
    if (!capture) return;
    comm.setCapture(nullptr);
    capture->close();
    debugPrint(tr("Capture %1 closed: %2 packets")
                   .arg(capture->fileName().toHtmlEscaped())
                   .arg(capture->packetCount()));
    capture.reset();
    emit captureChanged();
}

void MainWindow::chooseCapture()
{
    const QString path = QFileDialog::getSaveFileName(this, tr("Capture the session"), defaultCaptureName(),
                                                      tr("Captures (*.pcapng)"));
    if (!path.isEmpty()) startCapture(path);
}

void MainWindow::chooseCaptureToOpen()
{
    const QString path = QFileDialog::getOpenFileName(this, tr("Open capture"), QDir::homePath(),
                                                      tr("Captures (*.pcapng *.pcap);;All files (*)"));
    if (!path.isEmpty()) openCapture(path);
}

bool MainWindow::openCapture(QString path)
{
    // Played packets would mix with live ones in the decoder's buffer and the log.
    if (comm.device() && comm.device()->isRunning()) {
        showLinkError(tr("Close the port before opening a capture"));
        return false;
    }
    auto reader = std::make_unique<CaptureReader>();
    if (!reader->open(path)) {
        showLinkError(reader->errorString());
        return false;
    }
    const bool wasReplaying = replaying();
    replay = std::move(reader);
    replayed = 0;
    debugPrint(tr("Opening capture %1").arg(path.toHtmlEscaped()));
    if (!wasReplaying) {
        emit replayingChanged();
        QTimer::singleShot(0, this, &MainWindow::replaySlice);
    }
    return true;
}

// A slice as long as the link's, then the rest behind the events that came meanwhile: a capture of
// any size plays at full speed without freezing the window, and the log pane's cap bounds its memory.
void MainWindow::replaySlice()
{
    if (!replay) return;
    QElapsedTimer slice;
    slice.start();
    CapturedPacket packet;
    do {
        const CaptureReader::Result r = replay->next(packet);
        if (r != CaptureReader::Result::Packet) {
            endReplay(r == CaptureReader::Result::End);
            return;
        }
        ++replayed;
        replayMsecs = packet.timeNs / 1000000;
        replayUs = packet.timeNs / 1000;
        if (packet.isDiscarded()) {
            debugPrintHex(QStringLiteral("Noise: %1").arg(QString::fromLatin1(packet.data.toHex())));
        } else if (packet.direction == capture::Direction::Outbound) {
            noteCommand(packet.data);
            debugPrintHex(QStringLiteral("TX: %1").arg(QString::fromLatin1(packet.data.toHex())));
        } else {
            // As the link delivers a packet: decoded first, then its "RX:" line.
            noteReceived(packet.data);
            wifi.rx_data(packet.data);
            rxData(packet.data);
        }
        replayMsecs = -1;
        replayUs = -1;
    } while (slice.elapsed() < UartDev::rxSliceMs);
    QTimer::singleShot(0, this, &MainWindow::replaySlice);
}

void MainWindow::endReplay(bool ok)
{
    for (const QString &warning : replay->warnings())
        showLinkError(warning);
    if (ok)
        debugPrint(tr("Capture played: %1 packets").arg(replayed));
    else
        showLinkError(tr("Capture read up to packet %1: %2").arg(replayed).arg(replay->errorString()));
    replay.reset();
    emit replayingChanged();
    emit replayFinished(ok, replayed);
}
