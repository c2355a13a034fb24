#include "mainstubs.h"

#include <QFileInfo>

#include <stdexcept>

namespace tavlin {

void TDatabaseStub::Open() {
    connected_ = false;
    if (DatabaseName.isEmpty() || !QFileInfo(DatabaseName).isFile())
        throw std::runtime_error("unavailable database");
    connected_ = true;
}

} // namespace tavlin
