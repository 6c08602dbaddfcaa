#include "sdkroot.h"

static QString &rootStorage()
{
    static QString root;
    return root;
}

const QString &sdkRoot()
{
    return rootStorage();
}

void setSdkRoot(const QString &root)
{
    rootStorage() = root;
}
