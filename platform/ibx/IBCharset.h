// Text conversion between the program's UTF-8 and the database connection's
// character set (win1251 by default; UTF8 connections pass text through).
#pragma once

#include <string>
#include <string_view>

namespace ibx {

// Decodes win1251 bytes; the one unassigned byte (0x98) becomes U+FFFD.
std::string Win1251ToUtf8(std::string_view s);
// Encodes UTF-8 as win1251; characters win1251 cannot hold, and malformed
// UTF-8, become "?" so that nothing unchecked reaches the database.
std::string Utf8ToWin1251(std::string_view s);

} // namespace ibx
