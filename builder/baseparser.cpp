#include "baseparser.h"

#include <QtEndian>

BaseParser::~BaseParser() = default;

void BaseParser::appendSized(QByteArray &block, const QByteArray &bytes)
{
    char size[4];
    qToLittleEndian<quint32>(quint32(bytes.size()), size);
    block.append(size, 4);
    block.append(bytes);
}
