// Owns one file descriptor and closes it when it goes out of scope (the platform's UniqueFd).
#pragma once

#include "platform/UniqueFd.h"

using PMUniqueFd = platform::UniqueFd;
