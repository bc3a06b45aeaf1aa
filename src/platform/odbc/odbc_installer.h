// The driver manager's installer API (odbcinst / odbccp32), the part the
// adapter uses: installed drivers, writing and removing data sources, and
// reading their attributes. Each call works on the user's or the system's
// sources; the driver manager's configuration mode is restored afterwards.
#pragma once

#include <optional>
#include <vector>

#include "platform/text.h"

namespace pellory::odbc {

std::vector<Text> InstalledDrivers();
// The sections of the user's or the system's odbc.ini: the data sources.
std::vector<Text> DataSourceNames(bool system);
std::optional<Text> DataSourceValue(bool system, TextView dsn, TextView key);
// Writes a data source afresh with its driver; throws Failure.
void WriteDataSource(bool system, TextView dsn, TextView driver);
// Writes one attribute of a data source; throws Failure.
void WriteDataSourceValue(bool system, TextView dsn, TextView key, TextView value);
bool RemoveDataSource(bool system, TextView dsn);

}  // namespace pellory::odbc
