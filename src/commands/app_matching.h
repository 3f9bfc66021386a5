#pragma once

#include "platform/application_catalog.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// Finding an application by a name the user typed or spoke.
namespace orvane {

// The key a name is compared by: ".app" removed, case and diacritics folded
// the same way whatever the user's language, and only letters and digits kept.
QString normalizedAppName(const QString& name);

// The index of the best installed match for `name`, or nothing. Candidates
// offer their file name and their display name.
std::optional<std::size_t> findInstalledApp(const QString& name,
                                            const std::vector<InstalledApp>& apps);

// The index of the best running match for `name`, or nothing. Single words of
// a name (three characters or more) also match here.
std::optional<std::size_t> findRunningApp(const QString& name, const std::vector<RunningApp>& apps);

// Sorted the way a file manager sorts names: case-insensitive, numbers by
// value.
void sortByName(std::vector<InstalledApp>& apps);
int compareNames(QStringView a, QStringView b);

} // namespace orvane
