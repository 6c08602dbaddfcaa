// One test executable per library: each test class registers itself here and the shared main
// runs them all, failing when any of them fails.
#pragma once

#include <QObject>
#include <functional>
#include <vector>

namespace nwtest {

using Factory = std::function<QObject *()>;

inline std::vector<Factory> &registry()
{
    static std::vector<Factory> factories;
    return factories;
}

struct Registrar {
    explicit Registrar(Factory f) { registry().push_back(std::move(f)); }
};

int runAll(int argc, char **argv);

} // namespace nwtest

#define NW_TEST(Class) static nwtest::Registrar nw_registrar_##Class([] { return new Class; });
