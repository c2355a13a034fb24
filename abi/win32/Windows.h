// The Win32 subset the library and the stand-in stacks call, in namespace win.
#pragma once

#include "win32/WinTypes.h"
#include "win32/WinBase.h"
#include "win32/WinUser.h"
#include "win32/WinSock.h"
