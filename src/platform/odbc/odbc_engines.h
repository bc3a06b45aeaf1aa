// The database engines over ODBC: the DAO role (workspaces, data-source
// registration, read-only databases) and the RDO role (connections, table
// lists) both speak to the driver manager's wide API.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/data_source.h"
#include "platform/database.h"
#include "platform/odbc/data_source_store.h"
#include "platform/odbc/odbc_errors.h"

namespace pellory {

// Asks the user to pick a data source; gives the connect string to use
// ("DSN=x;UID=u;PWD=p") or nullopt when the user cancelled.
using DataSourcePrompt = std::function<std::optional<Text>(const std::vector<DataSourceInfo>&)>;

class OdbcEngines : public DatabaseEngines {
 public:
  explicit OdbcEngines(DataSourcePrompt prompt = nullptr) : prompt_(std::move(prompt)) {}
  std::shared_ptr<DaoEngine> CreateDaoEngine() override;
  std::shared_ptr<RdoEngine> CreateRdoEngine() override;

 private:
  DataSourcePrompt prompt_;
};

// A data-source prompt's login test: a connection opened and closed at once.
// Gives the driver's reason when it refuses, nullopt when it logs in.
std::optional<Text> TryOdbcLogin(TextView connect);

// The data sources the driver manager knows: the user's first, then the
// system-wide ones, each in the driver manager's order.
std::vector<DataSourceInfo> ListDataSources();

// The driver manager's data sources through its installer API.
std::unique_ptr<DataSourceStore> MakeOdbcDataSourceStore();

}  // namespace pellory
