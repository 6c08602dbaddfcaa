#include "apiclass.h"

QByteArray ApiClass::find_command(const QString &command_name, const QStringList &args, QString &msg) const
{
    for (const ApiMessage &command : commands) {
        if (command.name == command_name) return command.encode_command(args, msg);
    }
    if (!command_name.isEmpty())
        msg += QStringLiteral("Command '%1' not found in class '%2'").arg(command_name, name);
    return {};
}
