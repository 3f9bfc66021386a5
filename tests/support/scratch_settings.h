#pragma once

#include "settings/settings.h"

#include <QTemporaryDir>

namespace orvane::test {

// A settings file of its own, gone after the test.
struct ScratchSettings {
    QTemporaryDir dir;
    Settings settings{dir.path() + QStringLiteral("/Orvane.conf")};
};

} // namespace orvane::test
