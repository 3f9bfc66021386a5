#pragma once

#include "platform/application_catalog.h"
#include "support/scratch_xdg_data.h"

#include <gtest/gtest.h>

#include <ostream>

namespace orvane {

inline void PrintTo(const RunningApp& app, std::ostream* out)
{
    *out << "{" << app.pid << ", \"" << app.bundleID.toStdString() << "\", \""
         << app.name.toStdString() << "\", \"" << app.fileName.toStdString() << "\"}";
}

inline void PrintTo(const InstalledApp& app, std::ostream* out)
{
    *out << "{\"" << app.bundleID.toStdString() << "\", \"" << app.name.toStdString() << "\", \""
         << app.fileName.toStdString() << "\", \"" << app.path.toStdString() << "\"}";
}

namespace test {

// Tests of desktop entries in data folders of their own.
class XdgFixture : public ::testing::Test, public ScratchXdgData {
public:
    static QByteArray entry(const QByteArray& name, const QByteArray& exec,
                            const QByteArray& extra = {})
    {
        return "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=" + exec + "\n" + extra;
    }
};

} // namespace test
} // namespace orvane
