#include "server/ServerStore.h"

#include "server/PgStore.h"
#include "server/SqliteStore.h"

namespace plimo {

bool ServerStore::isPostgres(const std::string& where) {
  return where.rfind("postgresql://", 0) == 0 || where.rfind("postgres://", 0) == 0;
}

Result<std::unique_ptr<ServerStore>> ServerStore::open(const std::string& where) {
  if (isPostgres(where)) return PgStore::open(where);
  return SqliteStore::open(where);
}

}  // namespace plimo
