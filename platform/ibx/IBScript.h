// Creating a database and running DDL scripts: statements end with the current
// terminator, which "SET TERM" changes for procedure and trigger bodies.
#pragma once

#include "ibx/IBDatabase.h"

#include <string>
#include <string_view>
#include <vector>

namespace ibx {

// The statements of a script, without terminators and comments-only pieces.
// SET TERM is consumed here; other SET commands of the interactive tool are
// returned as they are and skipped by ExecuteScript.
std::vector<std::string> SplitScript(std::string_view script);

// Runs every statement of a script on a connected database, committing after
// each one as the interactive tool does, so later statements see earlier DDL.
// CREATE DATABASE, CONNECT and the tool's SET commands are skipped; COMMIT commits.
// Raises EIBError with the failing statement's first line appended.
void ExecuteScript(TIBDatabase& db, std::string_view script);

// Creates a new database (a plain path makes a file through the embedded engine)
// with the UTF8 default character set and dialect 3. Forced writes may be
// turned off for throw-away databases (tests, benchmarks). Fails if it exists.
void CreateDatabase(const std::string& name, const std::string& user = "SYSDBA", const std::string& password = "",
                    bool forcedWrites = true);

// Creates the database and applies the script file to it. On failure the new file
// is removed again (embedded paths only), so a retry starts clean.
void CreateDatabaseFromScript(const std::string& name, const std::string& scriptPath,
                              const std::string& user = "SYSDBA", const std::string& password = "",
                              bool forcedWrites = true);

} // namespace ibx
