#pragma once

#include <QString>

// The SDK root directory, set once from the command line before any section is read; the section
// parsers resolve their default files (firmware, bootloader, API definition) against it.
const QString &sdkRoot();
void setSdkRoot(const QString &root);
