// The main window's log search and captures: the session recorded into a pcapng file while it runs, and a
// capture played back into the log, the activity feed and the interface as if its packets arrived again.
#include "mainwindow.h"

#include "capturereader.h"
#include "logsearchbar.h"
#include "logview.h"
#include "messagetable.h"
#include "uartdev.h"
#include "ui_mainwindow.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLayout>
#include <QMetaMethod>
#include <QPushButton>
#include <QTimer>

// The search line sits right below the log pane it searches, with the session's capture at its end:
// a button that starts and stops recording, one that plays a capture, and the file being recorded.
void MainWindow::addLogSearch()
{
    auto *bar = new LogSearchBar(ui->textDebug);
    bar->setObjectName(QStringLiteral("logSearchBar"));
    ui->verticalLayout->insertWidget(ui->verticalLayout->indexOf(ui->textDebug) + 1, bar);
    connect(bar, &LogSearchBar::failed, this, &MainWindow::showLinkError);

    auto *status = new QLabel;
    status->setObjectName(QStringLiteral("captureStatus"));
    status->setStyleSheet(QStringLiteral("color: #c0392b"));
    status->hide();
    auto *record = new QPushButton(tr("Capture…"));
    record->setObjectName(QStringLiteral("captureButton"));
    auto *play = new QPushButton(tr("Open capture…"));
    play->setObjectName(QStringLiteral("openCaptureButton"));
    bar->layout()->addWidget(status);
    bar->layout()->addWidget(record);
    bar->layout()->addWidget(play);
    connect(record, &QPushButton::clicked, this, [this] { capture ? stopCapture() : chooseCapture(); });
    connect(play, &QPushButton::clicked, this, &MainWindow::chooseCaptureToOpen);
    connect(this, &MainWindow::captureChanged, status, [this, status, record] {
        status->setText(QString::fromUtf8("● ") + tr("Capturing to %1").arg(captureFileName()));
        status->setHidden(!capture);
        record->setText(capture ? tr("Stop capture") : tr("Capture…"));
    });
    // Playing needs the port closed and no other capture playing.
    auto playable = [this, play] {
        play->setEnabled(!replaying() && !(comm.device() && comm.device()->isRunning()));
    };
    connect(this, &MainWindow::attached, play, playable);
    connect(this, &MainWindow::replayingChanged, play, playable);
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
        // Commands are played through their operations for their log entries; what those encode goes
        // nowhere, the captured bytes make the "TX:" line.
        disconnect(&wifi, &cls_wifi::tx_data, this, &MainWindow::txData);
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
            if (!logCapturedCommand(packet.data)) noteCommand(packet.data);
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

// A captured command, logged as its operation logs it live: decoded by its descriptor and handed to the
// class's operation in the form the interface uses. False for a packet that is not a whole known command.
bool MainWindow::logCapturedCommand(const QByteArray &packet)
{
    const auto *h = reinterpret_cast<const uint8_t *>(packet.constData());
    if (packet.size() < packet_header_size || (h[0] & packet_event_bit) ||
        packet.size() != packet_header_size + packet_payload_length(h))
        return false;
    QObject *object = wifi.class_object(h[2]);
    const MessageDescriptor *d = nullptr;
    for (int i = 0; i < message_command_count && !d; ++i)
        if (message_table[i].header[2] == h[2] && message_table[i].header[3] == h[3]) d = &message_table[i];
    std::vector<message_arg> args;
    if (!object || !d ||
        !decode_message(*d, h + packet_header_size, size_t(packet.size() - packet_header_size), args))
        return false;
    // A class's operations for the interface come in message-id order.
    const QMetaObject *mo = object->metaObject();
    QMetaMethod operation;
    for (int i = mo->methodOffset(), n = 0; i < mo->methodCount() && !operation.isValid(); ++i) {
        const QMetaMethod m = mo->method(i);
        if (m.methodType() == QMetaMethod::Slot && m.name().startsWith("qml_cmd_") && n++ == h[3])
            operation = m;
    }
    QList<QVariant> values;
    size_t a = 0;
    for (uint32_t sig = d->signature; sig != 0 && a < args.size(); sig >>= 4) {
        switch (sig & 0xf) {
        case sig_hw_addr:
            values << QString::fromLatin1(
                QByteArray(reinterpret_cast<const char *>(args[a++].pointer), 6).toHex());
            break;
        case sig_uint8array:
        case sig_uint8array_alt:
        case sig_uint16array:
            values << QString::fromLatin1(
                QByteArray(reinterpret_cast<const char *>(args[a + 1].pointer), int(args[a].value)).toHex());
            a += 2;
            break;
        case sig_uint8:
        case sig_int8:
        case sig_uint16:
        case sig_int16:
        case sig_uint32:
        case sig_int32:
            values << int(args[a++].value);
            break;
        default:
            break;
        }
    }
    if (!operation.isValid() || values.size() != operation.parameterCount() || values.size() > 8)
        return false;
    QGenericArgument g[8];
    for (int k = 0; k < values.size(); ++k)
        g[k] = QGenericArgument(values[k].typeName(), values[k].constData());
    return operation.invoke(object, Qt::DirectConnection, g[0], g[1], g[2], g[3], g[4], g[5], g[6], g[7]);
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
    connect(&wifi, &cls_wifi::tx_data, this, &MainWindow::txData);
    emit replayingChanged();
    emit replayFinished(ok, replayed);
}
