// driver-archive's commands, each given the parsed options; each answers the
// exit code.
#pragma once

#include "options.h"

namespace tde::tool {

int Pack(const Options& o);     // pack.cpp
int List(const Options& o);     // inspect.cpp
int Cat(const Options& o);      // inspect.cpp
int Verify(const Options& o);   // inspect.cpp
int Extract(const Options& o);  // extract.cpp

}  // namespace tde::tool
