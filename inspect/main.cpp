#include "imagefile.h"
#include "inspection.h"
#include "nwversion.h"
#include "scriptapi.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonDocument>
#include <csignal>
#include <cstdio>

namespace
{

void print(const QString &text, FILE *to = stdout)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
}

int usageError(const QString &why)
{
    print(QStringLiteral("nwinspect: %1\nTry 'nwinspect --help' for more information.\n").arg(why), stderr);
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    std::signal(SIGPIPE, SIG_IGN); // a closed pipe ends the output, not the process
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("nwinspect"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NW_VERSION_FULL));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Shows what a firmware image (wifi.dfu, or wifi.hex with the boot flash) holds: its sections\n"
        "and their checks, the hardware settings, USB descriptors, files, certificates, the boot\n"
        "flash's configuration, and the script's tables and byte code as readable code.\n"
        "Exit status: 0 when the image is sound (with --diff: the same), 1 when it has problems\n"
        "(with --diff: they differ), 2 on a usage error."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print the inspection as JSON."));
    const QCommandLineOption extract(
        QStringLiteral("extract"),
        QStringLiteral("Write the files section's files into <dir>; names that would "
                       "land outside it are refused."),
        QStringLiteral("dir"));
    const QCommandLineOption diff(
        QStringLiteral("diff"),
        QStringLiteral("Compare two images: which sections differ, and the script's code "
                       "side by side where it changed."));
    const QCommandLineOption api(
        QStringList{QStringLiteral("a"), QStringLiteral("api")},
        QStringLiteral("API definition that names the script's events and calls (default: "
                       "the SDK's api/wifiapi.xml)."),
        QStringLiteral("file"));
    parser.addOptions({json, extract, diff, api});
    parser.addPositionalArgument(QStringLiteral("image"),
                                 QStringLiteral("wifi.dfu or wifi.hex (two with --diff)"));
    if (!parser.parse(QCoreApplication::arguments())) return usageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        print(parser.helpText());
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        print(QStringLiteral("nwinspect %1\n").arg(QStringLiteral(NW_VERSION_FULL)));
        return 0;
    }
    const QStringList files = parser.positionalArguments();
    const bool comparing = parser.isSet(diff);
    if (files.size() != (comparing ? 2 : 1))
        return usageError(comparing ? QStringLiteral("--diff needs two images")
                                    : QStringLiteral("one image file expected"));
    if (comparing && (parser.isSet(extract) || parser.isSet(json)))
        return usageError(QStringLiteral("--diff goes with neither --json nor --extract"));

    ScriptApi definition;
    QString apiError;
    if (parser.isSet(api)) {
        if (!definition.load(parser.value(api), &apiError)) return usageError(apiError);
    } else if (!definition.load(QCoreApplication::applicationDirPath() +
                                    QStringLiteral("/../api/wifiapi.xml"),
                                &apiError)) {
        print(QStringLiteral("nwinspect: %1; events and calls are shown by number\n").arg(apiError), stderr);
    }

    if (comparing) {
        const ImageFile a = ImageFile::fromFile(files[0]), b = ImageFile::fromFile(files[1]);
        for (const ImageFile *f : {&a, &b})
            if (!f->readable) {
                print(QStringLiteral("nwinspect: %1\n").arg(f->problems.value(0)), stderr);
                return 2;
            }
        const ImageDiff d = diffImages(a, b, &definition);
        print(d.same() ? QStringLiteral("The images hold the same sections.\n")
                       : d.text.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        return d.same() ? 0 : 1;
    }

    const ImageFile image = ImageFile::fromFile(files[0]);
    if (parser.isSet(extract)) {
        if (!image.readable) {
            print(QStringLiteral("nwinspect: %1\n").arg(image.problems.value(0)), stderr);
            return 1;
        }
        QStringList messages;
        const bool ok = extractFiles(image, parser.value(extract), messages);
        print(messages.join(QLatin1Char('\n')) + QLatin1Char('\n'), ok ? stdout : stderr);
        return ok ? 0 : 1;
    }
    const Inspection inspection = Inspection::of(image, &definition, parser.isSet(json));
    if (parser.isSet(json))
        print(QString::fromUtf8(QJsonDocument(inspection.json).toJson(QJsonDocument::Indented)));
    else
        print(inspection.text.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return inspection.problems.isEmpty() && image.readable ? 0 : 1;
}
