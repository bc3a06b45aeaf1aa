// The driver manager's installer API (odbcinst / odbccp32), the part the
// adapter uses: installed drivers, writing and removing data sources, and
// reading their attributes. Each call works on the user's or the system's
// sources; the driver manager's configuration mode is restored afterwards.
#pragma once

#include <optional>
#include <vector>

#include "platform/odbc/connect_string.h"
#include "platform/text.h"

namespace pellory::odbc {

std::vector<Text> InstalledDrivers();
// The sections of the user's or the system's odbc.ini: the data sources.
std::vector<Text> DataSourceNames(bool system);
std::optional<Text> DataSourceValue(bool system, TextView dsn, TextView key);
// Makes a data source hold its driver and exactly these attributes. On
// POSIX the file is left untouched when it already does, and a change is
// written whole under a lock that every Pellory process takes, keeping the
// rest of the file byte for byte. Returns whether anything was written;
// throws Failure.
bool RegisterDataSource(bool system, TextView dsn, TextView driver,
                        const std::vector<ConnectAttribute>& attributes);
// Writes one attribute of a data source, making the source when needed;
// throws Failure.
void WriteDataSourceValue(bool system, TextView dsn, TextView key, TextView value);
bool RemoveDataSource(bool system, TextView dsn);

}  // namespace pellory::odbc
